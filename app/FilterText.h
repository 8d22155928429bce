// Filter texts of the file dialogs: "description|pattern|description|...",
// and their conversion to the name filters of Qt's file dialog.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "picture/TPicture.h"

namespace kevrale {

// The image open dialog's filter from the format registry, newest entry
// first: one "description (*.ext)|*.ext" pair per entry, and in front of
// them, when there is more than one entry, a "すべてのファイル" pair that
// offers every registered extension at once.
std::string BuildOpenFilter(const std::vector<TFileFormat>& formats);

// One Qt name filter per description: the description, then its patterns
// in parentheses, separated by blanks, for Qt to match with. The file
// dialog hides that part, so the user sees each description exactly.
// With `either_case` (the open dialog) letters of a pattern match in either
// case, as extensions do when a picture is loaded ("*.bmp" also lists
// PHOTO.BMP). A save dialog takes its patterns as written: Qt's save dialog
// puts the first pattern's extension into the name field when the user
// switches the type, and "png" belongs there, never "[pP][nN][gG]".
QStringList ToNameFilters(const QString& filter, bool either_case = true);

// Whether `extension` (without its dot, any case) is named by one of the
// filter's patterns ("TIFF" by "*.tif;*.tiff"); an empty one never is.
bool FilterNamesExtension(const QString& filter, const QString& extension);

// The extension, without its dot, of the first pattern of the filter's
// pair at `index` ("tif" of "*.tif;*.tiff"); empty where that pattern names
// none ("*" or "*.*") or there is no such pair.
QString FilterExtension(const QString& filter, int index);

}  // namespace kevrale
