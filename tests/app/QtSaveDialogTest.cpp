// The save dialog through Qt's own file dialog, driven as a user drives it:
// a name typed into the name field, a type chosen in the type box. The
// chosen type decides the format of a name typed without an extension, the
// name field never shows a pattern, and the dialog reopens on the last
// confirmed name and type.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "MainWindowFixture.h"
#include "ModalScript.h"
#include "desktop/QtDesktopServices.h"

namespace kevrale::test {
namespace {

class QtSaveDialogTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    services_->file_answers = {WriteBmp("source.bmp", 6, 5, kGreen)};
    form1_->Open1->trigger();
    scripted_ = SetServices(std::make_unique<QtDesktopServices>());
  }
  void TearDown() override {
    SetServices(std::move(scripted_));
    MainWindowFixture::TearDown();
  }

  // Types into the name field as a user does: with the keyboard's focus
  // there, the typed name replaces the file selected in the list.
  static void Type(QWidget& dialog, QLineEdit& edit, const QString& text) {
    dialog.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    edit.setFocus(Qt::OtherFocusReason);
    edit.setText(text);
  }

  // What the dialog showed when it opened and after the type was switched.
  struct Seen {
    QString name_on_open;
    int type_on_open = -1;
    QString name_after_switch;
  };
  // Types `name` (a bare file name, in the test's folder), switches the
  // type box to `type` as a user does, and confirms.
  Seen SaveThroughDialog(const QString& name, int type) {
    Seen seen;
    ModalScript script({[&](QWidget& box) {
      auto* dialog = qobject_cast<QFileDialog*>(&box);
      auto* edit = box.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      auto* combo = box.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      if (dialog == nullptr || edit == nullptr || combo == nullptr) {
        box.close();
        return;
      }
      seen.name_on_open = edit->text();
      seen.type_on_open = combo->currentIndex();
      dialog->setDirectory(temp_.path());
      Type(*dialog, *edit, name);
      combo->setCurrentIndex(type);
      emit combo->activated(type);
      seen.name_after_switch = edit->text();
      QMetaObject::invokeMethod(dialog, "accept");
    }});
    form1_->Saveas1->trigger();
    EXPECT_EQ(script.Unanswered(), 0u);
    return seen;
  }
  QByteArray Head(const QString& name) const {
    QFile file(Path(name));
    return file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
  }

  std::unique_ptr<DesktopServices> scripted_;
};

TEST_F(QtSaveDialogTest, TheChosenTypeDecidesANameWithoutExtension) {
  Seen tiff = SaveThroughDialog(QStringLiteral("out_tiff"), 2);
  EXPECT_EQ(tiff.type_on_open, 0);
  EXPECT_EQ(form1_->SaveDialog1.FileName, Path("out_tiff.tif"));
  EXPECT_EQ(form1_->SaveDialog1.FilterIndex, 2);
  EXPECT_EQ(Head("out_tiff.tif"), QByteArray("II*\0", 4));

  // Reopened on the last name and type; SVG chosen for a bare name.
  Seen svg = SaveThroughDialog(QStringLiteral("out_svg"), 3);
  EXPECT_EQ(svg.name_on_open, QStringLiteral("out_tiff.tif"));
  EXPECT_EQ(svg.type_on_open, 2);
  EXPECT_EQ(form1_->SaveDialog1.FileName, Path("out_svg.svg"));
  EXPECT_EQ(Head("out_svg.svg").left(1), "<");
  EXPECT_FALSE(QFile::exists(Path("out_svg.bmp")));
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(QtSaveDialogTest, SwitchingTheTypePutsItsExtensionIntoTheNameField) {
  const Seen seen = SaveThroughDialog(QStringLiteral("switched.bmp"), 1);
  EXPECT_EQ(seen.name_after_switch, QStringLiteral("switched.png"));
  EXPECT_EQ(form1_->SaveDialog1.FileName, Path("switched.png"));
  EXPECT_EQ(Head("switched.png"), QByteArray("\x89PNG"));
  EXPECT_EQ(SaveThroughDialog(QStringLiteral("x.png"), 3).name_after_switch,
            QStringLiteral("x.svg"));
  EXPECT_EQ(SaveThroughDialog(QStringLiteral("y.svg"), 2).name_after_switch,
            QStringLiteral("y.tif"));
}

TEST_F(QtSaveDialogTest, ATypedFormatExtensionWinsOverTheChosenType) {
  // Typed after the switch, as a user may do.
  ModalScript script({[&](QWidget& box) {
    auto* dialog = qobject_cast<QFileDialog*>(&box);
    auto* edit = box.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* combo = box.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (dialog == nullptr || edit == nullptr || combo == nullptr) {
      box.close();
      return;
    }
    dialog->setDirectory(temp_.path());
    combo->setCurrentIndex(3);
    emit combo->activated(3);
    Type(*dialog, *edit, QStringLiteral("typed.PNG"));
    QMetaObject::invokeMethod(dialog, "accept");
  }});
  form1_->Saveas1->trigger();
  EXPECT_EQ(form1_->SaveDialog1.FileName, Path("typed.PNG"));
  EXPECT_EQ(form1_->SaveDialog1.FilterIndex, 3);
  EXPECT_EQ(Head("typed.PNG"), QByteArray("\x89PNG"));
}

}  // namespace
}  // namespace kevrale::test
