// The link label: its defaults, its three looks in the order of the
// pointer's and the buttons' events, and the targets its jumps hand to the
// desktop (recorded, not opened).
#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "ScriptedServices.h"
#include "about/TLightLabel.h"

namespace kevrale::test {
namespace {

const QColor kBlue(0, 0, 255);
const QColor kRedText(255, 0, 0);

class LightLabelTest : public testing::Test {
 protected:
  void SetUp() override {
    label_ = new TLightLabel(&parent_);
    label_->setText(QStringLiteral("link text"));
    label_->adjustSize();
    parent_.resize(200, 100);
    parent_.show();
  }
  void Enter() {
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(label_, &event);
  }
  void Leave() {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(label_, &event);
  }
  void Click(Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(label_, button, Qt::NoModifier, QPoint(2, 2));
    QTest::mouseRelease(label_, button, Qt::NoModifier, QPoint(2, 2));
  }
  QStringList Opened() const {
    QStringList out;
    for (const QUrl& url : services_->opened) out << url.toString();
    return out;
  }
  bool ShowsLight() const { return label_->Font() == label_->LightFont(); }
  bool ShowsDefault() const { return label_->Font() == label_->DefaultFont(); }
  bool ShowsClick() const { return label_->Font() == label_->ClickFont(); }

  ScopedServices services_;
  QWidget parent_;
  TLightLabel* label_ = nullptr;
};

TEST_F(LightLabelTest, DefaultsAtConstruction) {
  const QColor face = QApplication::palette().color(QPalette::Button);
  EXPECT_EQ(label_->LightColor(), face);
  EXPECT_EQ(label_->DefaultColor(), face);
  EXPECT_EQ(label_->ClickColor(), face);
  EXPECT_EQ(label_->LightFont().Color, kBlue);
  EXPECT_TRUE(label_->LightFont().Font.underline());
  EXPECT_EQ(label_->DefaultFont().Color, kBlue);
  EXPECT_FALSE(label_->DefaultFont().Font.underline());
  EXPECT_FALSE(label_->DefaultFont().Font.bold());
  EXPECT_EQ(label_->ClickFont().Color, kRedText);
  EXPECT_FALSE(label_->ClickFont().Font.underline());
  EXPECT_TRUE(label_->LightEnabled());
  EXPECT_TRUE(label_->DefaultEnabled());
  EXPECT_TRUE(label_->ClickEnabled());
  EXPECT_EQ(label_->JumpType(), jtCust);
  EXPECT_TRUE(label_->JumpTo().isEmpty());
  // The label starts with the default look, and shows it.
  EXPECT_TRUE(ShowsDefault());
  EXPECT_EQ(label_->Color(), face);
  EXPECT_EQ(label_->palette().color(QPalette::WindowText), kBlue);
  EXPECT_EQ(label_->palette().color(QPalette::Window), face);
  EXPECT_FALSE(label_->font().underline());
  EXPECT_EQ(static_cast<int>(jtNone), 0);
  EXPECT_EQ(static_cast<int>(jtCaption), 5);
}

TEST_F(LightLabelTest, EnterAndLeaveShowTheirLooksBeforeTheirEvents) {
  label_->SetLightColor(Qt::yellow);
  QStringList events;
  label_->OnMouseEnter = [&](TLightLabel& sender) {
    events << (sender.Color() == QColor(Qt::yellow) && sender.font().underline() ? "enter/light"
                                                                                 : "enter/?");
  };
  label_->OnMouseLeave = [&](TLightLabel& sender) {
    events << (sender.font().underline() ? "leave/?" : "leave/default");
  };
  Enter();
  EXPECT_TRUE(ShowsLight());
  EXPECT_EQ(label_->palette().color(QPalette::Window), QColor(Qt::yellow));
  Leave();
  EXPECT_TRUE(ShowsDefault());
  EXPECT_EQ(events, QStringList({"enter/light", "leave/default"}));
}

TEST_F(LightLabelTest, DisabledLooksAreNotShownOnEnterLeaveOrPress) {
  label_->SetLightEnabled(false);
  label_->SetClickEnabled(false);
  Enter();
  EXPECT_TRUE(ShowsDefault());
  QTest::mousePress(label_, Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_TRUE(ShowsDefault());
  // The release restores the light look regardless of LightEnabled.
  QTest::mouseRelease(label_, Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_TRUE(ShowsLight());
  label_->SetDefaultEnabled(false);
  Leave();
  EXPECT_TRUE(ShowsLight());
}

TEST_F(LightLabelTest, RightButtonShowsTheClickLookThenTheLightLookAndOpensNothing) {
  label_->SetJumpTo(QStringLiteral("https://example.org/"));
  Enter();
  QTest::mousePress(label_, Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_TRUE(ShowsClick());
  EXPECT_EQ(label_->palette().color(QPalette::WindowText), kRedText);
  QTest::mouseRelease(label_, Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_TRUE(ShowsLight());
  EXPECT_TRUE(services_->opened.empty());
}

TEST_F(LightLabelTest, LeftPressMovedOffAndReleasedOutsideOpensNothing) {
  label_->SetJumpTo(QStringLiteral("https://example.org/"));
  Enter();
  QTest::mousePress(label_, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  Leave();
  QTest::mouseRelease(label_, Qt::LeftButton, Qt::NoModifier, QPoint(-30, -30));
  EXPECT_TRUE(services_->opened.empty());
  EXPECT_TRUE(ShowsDefault());
}

TEST_F(LightLabelTest, JumpTargetsForEachJumpType) {
  struct Case {
    TJumpType type;
    QString jump_to;
    QString caption;
    QStringList opened;
  };
  const QString program = QCoreApplication::applicationDirPath();
  const std::vector<Case> cases = {
      {jtCust, "https://example.org/a", "x", {"https://example.org/a"}},
      {jtHome, "https://example.org/a", "x", {"https://example.org/a"}},
      {jtMail, "someone@example.org", "x", {"mailto:someone@example.org"}},
      {jtMail, "", "someone@example.org", {}},
      {jtFile, "/tmp/page.htm", "x", {"file:///tmp/page.htm"}},
      {jtFile, "docs/page.htm", "x", {"file:///docs/page.htm"}},
      {jtNone, "https://example.org/a", "x", {}},
      {jtCaption, "", "https://example.org/c", {"https://example.org/c"}},
      {jtCaption,
       "https://example.org/ignored",
       "https://example.org/c",
       {"https://example.org/c"}},
      {jtCaption, "https://example.org/ignored", "", {}},
      // A target without a scheme is a file found from the program's folder.
      {jtCust, "help.htm", "x", {QUrl::fromLocalFile(program + "/help.htm").toString()}},
  };
  for (const Case& c : cases) {
    services_->opened.clear();
    label_->SetJumpType(c.type);
    label_->SetJumpTo(c.jump_to);
    label_->setText(c.caption);
    label_->resize(40, 20);
    Click();
    EXPECT_EQ(Opened(), c.opened) << "type " << int(c.type) << " " << c.jump_to.toStdString();
  }
}

TEST_F(LightLabelTest, TheJumpComesBeforeTheClickEvent) {
  label_->SetJumpTo(QStringLiteral("https://example.org/"));
  size_t opened_at_click = 99;
  label_->OnClick = [&](TLightLabel&) { opened_at_click = services_->opened.size(); };
  Click();
  EXPECT_EQ(opened_at_click, 1u);
}

TEST_F(LightLabelTest, DefaultColourAndFontShowAtOnceOnlyWhileDefaultEnabled) {
  label_->SetDefaultEnabled(false);
  label_->SetDefaultColor(Qt::green);
  EXPECT_EQ(label_->DefaultColor(), QColor(Qt::green));
  EXPECT_NE(label_->Color(), QColor(Qt::green));
  TFont big = label_->DefaultFont();
  big.Font.setPixelSize(20);
  label_->SetDefaultFont(big);
  EXPECT_NE(label_->Font(), big);

  label_->SetDefaultEnabled(true);
  label_->SetDefaultColor(Qt::cyan);
  EXPECT_EQ(label_->Color(), QColor(Qt::cyan));
  EXPECT_EQ(label_->palette().color(QPalette::Window), QColor(Qt::cyan));
  big.Color = Qt::darkGreen;
  label_->SetDefaultFont(big);
  EXPECT_EQ(label_->Font(), big);
  EXPECT_EQ(label_->font().pixelSize(), 20);

  // Light and click fonts are stored, not shown.
  TFont light = big;
  light.Color = Qt::magenta;
  label_->SetLightFont(light);
  EXPECT_EQ(label_->LightFont(), light);
  EXPECT_EQ(label_->Font(), big);
}

}  // namespace
}  // namespace kevrale::test
