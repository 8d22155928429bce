// The save dialog: its filter, the extension a typed name gets from the
// chosen filter, the format the name's extension chooses, and the centre
// lines saved as SVG, read back with Qt's XML reader.
#include <QDir>
#include <QFile>
#include <QPointF>
#include <QSpinBox>
#include <QXmlStreamReader>

#include "MainWindowFixture.h"
#include "app/TShape.h"

namespace kevrale::test {
namespace {

const QString kSaveFilter = QStringLiteral(
    "ビットマップ(*.bmp)|*.bmp|PNG (*.png)|*.png|TIFF (*.tif;*.tiff)|*.tif;*.tiff|SVG "
    "(*.svg)|*.svg");

class SaveDialogTest : public MainWindowFixture {
 protected:
  // Opens a white picture with a red line from (2, 3) to (8, 3).
  void OpenRedLine(TColor middle = kRed) {
    TBitmap bitmap(12, 7);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 12; ++x)
        bitmap.SetPixel(x, y, y == 3 && x >= 2 && x <= 8 ? kRed : clWhite);
    bitmap.SetPixel(5, 3, middle);
    const QString path = Path("line.bmp");
    bitmap.SaveToFile(path.toStdString());
    services_->file_answers = {path};
    form1_->Open1->trigger();
    ASSERT_EQ(form1_->Picture().Width(), 12);
  }
  // Saves through the dialog with the typed name and the chosen filter.
  void SaveAs(const QString& typed, int filter) {
    services_->file_answers = {typed};
    services_->filter_answers = {filter};
    form1_->Saveas1->trigger();
  }
  QByteArray Head(const QString& path, int bytes = 4) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.read(bytes);
  }
};

// An SVG document as a reader independent of ours sees it.
struct SvgSeen {
  QString width, height, view_box;
  QStringList strokes;
  QStringList paths;  // the d attributes
  bool well_formed = false;
};

SvgSeen ReadSvg(const QString& path) {
  SvgSeen seen;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return seen;
  QXmlStreamReader xml(&file);
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (xml.name() == QLatin1String("svg")) {
      seen.width = xml.attributes().value("width").toString();
      seen.height = xml.attributes().value("height").toString();
      seen.view_box = xml.attributes().value("viewBox").toString();
    } else if (xml.name() == QLatin1String("path")) {
      seen.strokes << xml.attributes().value("stroke").toString();
      seen.paths << xml.attributes().value("d").toString().simplified();
    }
  }
  seen.well_formed = !xml.hasError() && !seen.width.isEmpty();
  return seen;
}

// The points a path's d attribute visits, from the path commands that a
// polyline uses (M, L, H, V in absolute and relative form, and Z).
QList<QPointF> Points(const QString& d) {
  QList<QPointF> points;
  QPointF at;
  QChar command;
  QList<double> numbers;
  const auto flush = [&] {
    const bool relative = command.isLower();
    const QPointF base = relative ? at : QPointF(0, 0);
    const QChar c = command.toUpper();
    const int take = c == QLatin1Char('H') || c == QLatin1Char('V') ? 1 : 2;
    for (qsizetype i = 0; i + take <= numbers.size(); i += take) {
      if (c == QLatin1Char('H'))
        at = QPointF(base.x() + numbers[i], at.y());
      else if (c == QLatin1Char('V'))
        at = QPointF(at.x(), base.y() + numbers[i]);
      else
        at = (relative ? at : QPointF(0, 0)) + QPointF(numbers[i], numbers[i + 1]);
      points << at;
    }
    numbers.clear();
  };
  QString token;
  for (const QChar c : d + QLatin1Char(' ')) {
    if (c.isDigit() || c == QLatin1Char('.') || (c == QLatin1Char('-') && token.isEmpty())) {
      token += c;
      continue;
    }
    if (!token.isEmpty()) numbers << token.toDouble();
    token = c == QLatin1Char('-') ? QString(c) : QString();
    if (c.isLetter()) {
      if (!command.isNull()) flush();
      command = c;
    }
  }
  if (!command.isNull()) flush();
  return points;
}

TEST_F(SaveDialogTest, OffersBmpFirstThenPngTiffAndSvg) {
  SaveAs(Path("first.bmp"), 0);
  ASSERT_EQ(services_->file_requests.size(), 1u);
  const FileDialogRequest& request = services_->file_requests[0];
  EXPECT_EQ(request.kind, FileDialogRequest::Kind::Save);
  EXPECT_EQ(request.filter, kSaveFilter);
  ASSERT_EQ(request.name_filters.size(), 4);
  EXPECT_TRUE(request.name_filters[0].startsWith(QStringLiteral("ビットマップ(*.bmp)")));
  EXPECT_TRUE(request.name_filters[3].startsWith(QStringLiteral("SVG (*.svg)")));
  EXPECT_EQ(request.filter_index, 0);
}

TEST_F(SaveDialogTest, ATypedNameWithoutExtensionGetsTheChosenFiltersExtension) {
  services_->file_answers = {WriteBmp("source.bmp", 6, 5, kGreen)};
  form1_->Open1->trigger();
  const struct {
    const char* typed;
    int filter;
    const char* saved;
  } kCases[] = {{"a", 0, "a.bmp"},
                {"b", 1, "b.png"},
                {"c", 2, "c.tif"},
                {"d", 3, "d.svg"},
                {"e.PNG", 0, "e.PNG"},
                {"f.bmp", 3, "f.bmp"},
                {"g.tiff", 1, "g.tiff"},
                {"h.", 2, "h.tif"},
                {"scan.v2", 1, "scan.v2.png"},
                {"dotted.svg.x", 3, "dotted.svg.x.svg"}};
  int previous = 0;
  QString previous_name;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    SaveAs(Path(c.typed), c.filter);
    EXPECT_EQ(form1_->SaveDialog1.FileName, Path(c.saved));
    EXPECT_TRUE(QFile::exists(Path(c.saved)));
    // Each dialog opened on the name and the filter confirmed the time
    // before, and offered the patterns as written.
    EXPECT_EQ(services_->file_requests.back().filter_index, previous);
    EXPECT_EQ(services_->file_requests.back().file_name, previous_name);
    EXPECT_FALSE(services_->file_requests.back().name_filters.join(' ').contains('['));
    previous = c.filter;
    previous_name = Path(c.saved);
  }
  EXPECT_TRUE(services_->messages.empty());
  EXPECT_EQ(Head(Path("a.bmp"), 2), "BM");
  // A name that chooses SVG is written as SVG whatever filter was shown.
  EXPECT_TRUE(ReadSvg(Path("d.svg")).well_formed);
  EXPECT_EQ(Head(Path("f.bmp"), 2), "BM");
}

// Needs the PNG and TIFF writers of the picture layer.
TEST_F(SaveDialogTest, TheNamesExtensionChoosesTheRasterFormat) {
  services_->file_answers = {WriteBmp("source.bmp", 6, 5, kGreen)};
  form1_->Open1->trigger();
  SaveAs(Path("out"), 1);
  EXPECT_EQ(Head(Path("out.png")), QByteArray("\x89PNG"));
  SaveAs(Path("out"), 2);
  const QByteArray tiff = Head(Path("out.tif"));
  EXPECT_TRUE(tiff == QByteArray("II*\0", 4) || tiff == QByteArray("MM\0*", 4))
      << tiff.toHex().data();
  SaveAs(Path("upper.TIFF"), 0);
  EXPECT_EQ(Head(Path("upper.TIFF"), 2), Head(Path("out.tif"), 2));
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(SaveDialogTest, SvgHoldsTheLinesOfTheTargetColourReadBack) {
  OpenRedLine();
  form2_->Shape1->SetBrushColor(kRed);
  SaveAs(Path("lines"), 3);
  ASSERT_TRUE(services_->messages.empty()) << services_->messages[0].text.toStdString();
  const SvgSeen svg = ReadSvg(Path("lines.svg"));
  EXPECT_TRUE(svg.well_formed);
  EXPECT_EQ(svg.width, "12");
  EXPECT_EQ(svg.height, "7");
  EXPECT_EQ(svg.view_box, "0 0 12 7");
  ASSERT_EQ(svg.paths.size(), 1);
  EXPECT_EQ(svg.strokes, QStringList({"#ff0000"}));
  // One straight run through the pixel centres, from one end to the other.
  QList<QPointF> points = Points(svg.paths[0]);
  ASSERT_EQ(points.size(), 2) << svg.paths[0].toStdString();
  if (points[0].x() > points[1].x()) std::swap(points[0], points[1]);
  EXPECT_EQ(points, (QList<QPointF>{{2.5, 3.5}, {8.5, 3.5}})) << svg.paths[0].toStdString();
  // The picture is not changed by the save.
  EXPECT_EQ(form1_->Picture().Pixel(5, 3), kRed);
}

TEST_F(SaveDialogTest, SvgTakesTheNearShadesWithinTheTolerance) {
  OpenRedLine(RGB(250, 4, 0));  // a near shade in the middle of the line
  form2_->Shape1->SetBrushColor(kRed);
  SaveAs(Path("exact.svg"), 3);
  EXPECT_EQ(ReadSvg(Path("exact.svg")).paths.size(), 2);
  form2_->ToleranceSpin->setValue(5);
  SaveAs(Path("near.svg"), 3);
  EXPECT_EQ(ReadSvg(Path("near.svg")).paths.size(), 1);
}

TEST_F(SaveDialogTest, AFailedSvgSaveNamesTheFileAndLeavesWhatWasThere) {
  OpenRedLine();
  const QString missing = Path("no-such-folder/lines.svg");
  SaveAs(missing, 3);
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "ファイル " + missing + " を作成できません");
  EXPECT_EQ(services_->messages[0].kind, MessageKind::Error);

  // A folder where the file would go is not replaced.
  ASSERT_TRUE(QDir().mkpath(Path("taken.svg/inside")));
  SaveAs(Path("taken.svg"), 3);
  ASSERT_EQ(services_->messages.size(), 2u);
  EXPECT_EQ(services_->messages[1].text, "ファイル " + Path("taken.svg") + " を作成できません");
  EXPECT_TRUE(QDir(Path("taken.svg/inside")).exists());
}

}  // namespace
}  // namespace kevrale::test
