#include "desktop/UiFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace kevrale {

namespace {

QStringList Families() {
  QStringList families{QStringLiteral("ＭＳ Ｐゴシック")};
  for (const char* name : {"MS PGothic", "Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic",
                           "VL PGothic", "TakaoPGothic", "Source Han Sans JP"}) {
    const QString family = QString::fromLatin1(name);
    if (QFontDatabase::hasFamily(family)) families << family;
  }
  return families;
}

}  // namespace

QFont UiFont(int pixel_size) {
  static const QStringList families = Families();
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixel_size);
  return font;
}

}  // namespace kevrale
