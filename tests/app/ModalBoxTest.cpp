// Every box and dialog that the windows show through the real desktop
// services: it stays visible and on top while it is open, also above the
// colour settings window that stays on top of the others, and a message box
// is wide enough for its caption.
#include <QApplication>
#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include "MainWindowFixture.h"
#include "ModalScript.h"
#include "app/TShape.h"
#include "desktop/QtDesktopServices.h"

namespace kevrale::test {
namespace {

class ModalBoxTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    // The real boxes and dialogs, in place of the scripted ones.
    scripted_ = SetServices(std::make_unique<QtDesktopServices>());
  }
  void TearDown() override {
    SetServices(std::move(scripted_));
    MainWindowFixture::TearDown();
  }

  // What is seen of a box while it is open.
  struct Seen {
    bool shown = false;
    QWidget* owner = nullptr;
    bool on_top = false;
    bool transient_for_owner = false;
    bool form2_visible = false;
    bool form2_on_top = false;
    QString title;
    int width = 0;
  };
  Seen Look(QWidget& box) const {
    Seen seen;
    seen.shown = box.isVisible();
    seen.owner = box.parentWidget();
    seen.on_top = box.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen.transient_for_owner =
        seen.owner != nullptr && box.windowHandle() != nullptr &&
        box.windowHandle()->transientParent() == seen.owner->window()->windowHandle();
    seen.form2_visible = form2_->isVisible();
    seen.form2_on_top = form2_->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen.title = box.windowTitle();
    seen.width = box.width();
    return seen;
  }

  std::unique_ptr<DesktopServices> scripted_;
};

void PressOk(QWidget& box) {
  auto* message = qobject_cast<QMessageBox*>(&box);
  ASSERT_NE(message, nullptr) << box.metaObject()->className();
  message->button(QMessageBox::Ok)->click();
}

TEST_F(ModalBoxTest, TheBatchsDialogAndClosingBoxOpenAboveTheColourSettings) {
  const QString image = WriteBmp("one.bmp", 4, 4, clWhite);
  const QString list = Path("list.txt");
  {
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(image.toUtf8());
  }
  form1_->N2->trigger();
  ASSERT_TRUE(form2_->isVisible());

  Seen dialog, message;
  ModalScript script({[&](QWidget& box) {
                        dialog = Look(box);
                        auto* files = qobject_cast<QFileDialog*>(&box);
                        ASSERT_NE(files, nullptr);
                        files->selectFile(list);
                        static_cast<QDialog*>(files)->accept();
                      },
                      [&](QWidget& box) {
                        message = Look(box);
                        PressOk(box);
                      }});
  form1_->txt1->trigger();

  EXPECT_EQ(script.Unanswered(), 0u);
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_TRUE(QFile::exists(Path("one_s.bmp")));
  for (const Seen& seen : {dialog, message}) {
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.owner, form2_.get());
    EXPECT_TRUE(seen.transient_for_owner);
    EXPECT_TRUE(seen.on_top);
    // The colour settings stay shown and on top meanwhile.
    EXPECT_TRUE(seen.form2_visible);
    EXPECT_TRUE(seen.form2_on_top);
  }
  EXPECT_EQ(message.title, "Kevrale");
  EXPECT_TRUE(form2_->isVisible());
  EXPECT_TRUE(form2_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(ModalBoxTest, AnErrorOfTheMainWindowOpensAboveTheColourSettingsOnlyWhileTheyAreShown) {
  const QString missing = Path("missing.bmp");
  QString shown_text;
  auto answer_open = [&](QWidget& box) {
    auto* files = qobject_cast<QFileDialog*>(&box);
    ASSERT_NE(files, nullptr);
    files->selectFile(missing);
    static_cast<QDialog*>(files)->accept();
  };
  Seen with_settings, without_settings;
  auto look_and_close = [&](Seen* seen) {
    return [this, seen, &shown_text](QWidget& box) {
      *seen = Look(box);
      if (auto* message = qobject_cast<QMessageBox*>(&box)) shown_text = message->text();
      PressOk(box);
    };
  };

  form1_->N2->trigger();
  {
    ModalScript script({answer_open, look_and_close(&with_settings)});
    form1_->Open1->trigger();
    EXPECT_EQ(script.Unanswered(), 0u);
  }
  EXPECT_EQ(shown_text, "ファイル " + missing + " は開けません");
  EXPECT_EQ(with_settings.owner, form2_.get());
  EXPECT_TRUE(with_settings.on_top);

  // Hidden, or minimised where the window manager allows it, they cover
  // nothing: the box is the main window's own and not on top.
  for (const bool minimised : {false, true}) {
    if (minimised) {
      form2_->show();
      form2_->showMinimized();
    } else {
      form2_->Button3->click();
    }
    ModalScript script({answer_open, look_and_close(&without_settings)});
    form1_->Open1->trigger();
    EXPECT_EQ(script.Unanswered(), 0u);
    EXPECT_EQ(without_settings.owner, form1_.get()) << minimised;
    EXPECT_FALSE(without_settings.on_top) << minimised;
  }
}

TEST_F(ModalBoxTest, TheColourChooserOpensAboveTheColourSettings) {
  form1_->N2->trigger();
  Seen chooser;
  ModalScript script({[&](QWidget& box) {
    chooser = Look(box);
    auto* colours = qobject_cast<QColorDialog*>(&box);
    ASSERT_NE(colours, nullptr);
    colours->setCurrentColor(QColor(0x12, 0x34, 0x56));
    colours->accept();
  }});
  form2_->Button4->click();
  EXPECT_EQ(script.Unanswered(), 0u);
  EXPECT_EQ(chooser.owner, form2_.get());
  EXPECT_TRUE(chooser.on_top);
  EXPECT_TRUE(chooser.form2_on_top);
  EXPECT_EQ(form2_->SurroundColor(), RGB(0x12, 0x34, 0x56));
}

TEST_F(ModalBoxTest, AShortMessageLeavesTheTitleBarRoomForItsCaption) {
  Seen box;
  ModalScript script({[&](QWidget& shown) {
    box = Look(shown);
    PressOk(shown);
  }});
  Services().ShowMessage(form1_.get(), QStringLiteral("Kevrale"), QStringLiteral("終了しました"),
                         MessageKind::Plain);
  EXPECT_EQ(script.Unanswered(), 0u);
  EXPECT_EQ(box.title, "Kevrale");
  // Room for the caption in a bold title face beside an icon and three
  // title-bar buttons of about 24 pixels each.
  QFont title = form1_->font();
  title.setBold(true);
  EXPECT_GE(box.width, QFontMetrics(title).horizontalAdvance("Kevrale") + 4 * 24);
  EXPECT_EQ(box.owner, form1_.get());
}

TEST_F(ModalBoxTest, ALongerMessageIsShownWhole) {
  const QString text = QStringLiteral("拡張子 . の画像形式は処理できません");
  int label_width = 0;
  int text_width = 0;
  ModalScript script({[&](QWidget& shown) {
    auto* label = shown.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    label_width = label->width();
    text_width = QFontMetrics(label->font()).horizontalAdvance(text);
    PressOk(shown);
  }});
  Services().ShowMessage(form1_.get(), QStringLiteral("Kevrale"), text, MessageKind::Error);
  EXPECT_EQ(script.Unanswered(), 0u);
  EXPECT_GE(label_width, text_width);
}

}  // namespace
}  // namespace kevrale::test
