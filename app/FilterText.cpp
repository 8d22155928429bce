#include "app/FilterText.h"

#include "platform/Format.h"

namespace kevrale {

std::string BuildOpenFilter(const std::vector<TFileFormat>& formats) {
  std::string pairs;
  std::string patterns;
  int taken = 0;
  for (auto it = formats.rbegin(); it != formats.rend(); ++it) {
    if (taken > 0) {
      pairs += '|';
      patterns += ';';
    }
    pairs = Format("%s%s (*.%s)|*.%2:s", {pairs, it->Description, it->Extension});
    patterns = Format("%s*.%s", {patterns, it->Extension});
    ++taken;
  }
  if (taken > 1) return Format("%s (%s)|%1:s|%s", {"すべてのファイル", patterns, pairs});
  return pairs;
}

namespace {

// "*.bmp" becomes "*.[bB][mM][pP]".
QString EitherCase(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    const QChar lower = c.toLower();
    const QChar upper = c.toUpper();
    if (c.isLetter() && c.unicode() < 128 && lower != upper)
      out += QLatin1Char('[') + lower + upper + QLatin1Char(']');
    else
      out += c;
  }
  return out;
}

}  // namespace

QStringList ToNameFilters(const QString& filter, bool either_case) {
  QStringList result;
  const QStringList parts = filter.split(QLatin1Char('|'));
  // A description without a pattern after it is not offered.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
      patterns << (either_case ? EitherCase(pattern.trimmed()) : pattern.trimmed());
    result << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

bool FilterNamesExtension(const QString& filter, const QString& extension) {
  if (extension.isEmpty()) return false;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 1; i < parts.size(); i += 2)
    for (const QString& pattern : parts[i].split(QLatin1Char(';'), Qt::SkipEmptyParts))
      if (pattern.trimmed().compare(QLatin1String("*.") + extension, Qt::CaseInsensitive) == 0)
        return true;
  return false;
}

QString FilterExtension(const QString& filter, int index) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  const qsizetype at = 2 * qsizetype(index) + 1;
  if (index < 0 || at >= parts.size()) return QString();
  const QString first = parts[at].section(QLatin1Char(';'), 0, 0).trimmed();
  if (!first.startsWith(QLatin1String("*."))) return QString();
  const QString extension = first.mid(2);
  // A wildcard names no extension to add.
  if (extension.isEmpty() || extension.contains(QLatin1Char('*')) ||
      extension.contains(QLatin1Char('?')))
    return QString();
  return extension;
}

}  // namespace kevrale
