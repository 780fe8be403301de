// The Qt view of the settings window, offscreen: every widget reaches the
// window's behaviour, the buttons and keys do what they say, and an edit made
// in a widget is heard at once in a stream that plays through the real module.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "host/Sonavel.h"
#include "host/UiHost.h"
#include "support/HostHarness.h"
#include "support/UiFakes.h"
#include "ui/ConfigDlg.h"
#include "ui/Texts.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/QtConfigView.h"

namespace sn {
namespace {

using test::FakeHost;
using ui::Button;
using ui::Ctl;

// One application object for the whole program, on the test's main thread.
QApplication* App() {
  static int argc = 1;
  static char name[] = "test_ui_qt";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return app;
}

// Answers the next message box with `button` once it is up.
void AnswerNextBox(QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [button] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->button(button)->click();
  });
}

class QtView : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  void Make() {
    dlg.reset();
    view = std::make_unique<ui::qt::QtConfigView>();
    dlg = std::make_unique<ui::ConfigDlg>(host, *view);
  }
  template <class W>
  W* Get(Ctl c) {
    W* w = qobject_cast<W*>(view->Widget(c));
    EXPECT_NE(w, nullptr) << "control " << static_cast<int>(c);
    return w;
  }

  FakeHost host;
  std::unique_ptr<ui::qt::QtConfigView> view;
  std::unique_ptr<ui::ConfigDlg> dlg;
};

TEST_F(QtView, WindowCarriesItsTitleTabsAndButtons) {
  Make();
  EXPECT_EQ(view->windowTitle(), QStringLiteral("Sonavel Configuration"));
  EXPECT_TRUE(view->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(view->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(view->windowFlags() & Qt::WindowMaximizeButtonHint);
  QStringList tabs;
  for (int i = 0; i < view->Tabs()->count(); ++i) tabs << view->Tabs()->tabText(i);
  EXPECT_EQ(tabs.join(u','), QStringLiteral("Main,Surround,Headphones,Room,System,About"));
  EXPECT_EQ(view->ButtonWidget(Button::OK)->text(), QStringLiteral("OK"));
  EXPECT_TRUE(view->ButtonWidget(Button::OK)->isDefault());
  EXPECT_EQ(view->ButtonWidget(Button::Apply)->text(), QStringLiteral("&Apply"));
  EXPECT_FALSE(view->ButtonWidget(Button::Apply)->isEnabled());
  auto* modes = Get<QComboBox>(Ctl::ModeList);
  ASSERT_EQ(modes->count(), 5);
  EXPECT_EQ(modes->itemText(2), QStringLiteral("Sonavel-SN (3/2) = L,R,C,SL,SR"));
  const struct {
    Ctl c;
    int lo, hi;
  } ranges[] = {{Ctl::MasterGain, -6, 6},       {Ctl::SurroundDelayMusic, 0, 100}, {Ctl::CentreWeight, 0, 100},
                {Ctl::SurroundDelayMovie, 10, 100}, {Ctl::DelaySub, 0, 100},   {Ctl::TrimSL, -12, 12},
                {Ctl::LFECutoff, 20, 200}};
  for (const auto& r : ranges) {
    auto* s = Get<QSpinBox>(r.c);
    EXPECT_EQ(s->minimum(), r.lo);
    EXPECT_EQ(s->maximum(), r.hi);
    EXPECT_EQ(s->singleStep(), 1);
  }
  EXPECT_TRUE(Get<QLineEdit>(Ctl::SlaveFile)->isReadOnly());
}

// Every control, moved as a user would move it, writes its field.
TEST_F(QtView, EveryWidgetWritesItsFieldAndEnablesApply) {
  const struct {
    Ctl c;
    int value;
    int32_t Config::*field;
    int want;
  } rows[] = {
      {Ctl::ModeList, 4, &Config::Mode, 4},
      {Ctl::MasterGain, -3, &Config::MasterGain, -3},
      {Ctl::SurroundMovie, 1, &Config::SurroundMode, 0},
      {Ctl::SurroundDelayMusic, 25, &Config::SurroundDelayMusic, 25},
      {Ctl::CentreWeight, 60, &Config::CentreWeight, 60},
      {Ctl::MusicShelf, 1, &Config::MusicSurroundShelf, 1},
      {Ctl::SurroundDelayMovie, 44, &Config::SurroundDelayMovie, 44},
      {Ctl::HeadphonesMovie, 1, &Config::HeadphonesMode, 1},
      {Ctl::DecodeMusic, 0, &Config::HeadphonesDecodeMusic, 0},
      {Ctl::DecodeMovie, 0, &Config::HeadphonesDecodeMovie, 0},
      {Ctl::DelayL, 1, &Config::DelayL, 1},       {Ctl::DelayR, 2, &Config::DelayR, 2},
      {Ctl::DelayC, 3, &Config::DelayC, 3},       {Ctl::DelaySub, 4, &Config::DelaySub, 4},
      {Ctl::DelaySL, 5, &Config::DelaySL, 5},     {Ctl::DelaySR, 6, &Config::DelaySR, 6},
      {Ctl::TrimL, -1, &Config::TrimL, -1},       {Ctl::TrimR, -2, &Config::TrimR, -2},
      {Ctl::TrimC, 3, &Config::TrimC, 3},         {Ctl::TrimSub, 4, &Config::TrimSub, 4},
      {Ctl::TrimSL, -12, &Config::TrimSL, -12},   {Ctl::TrimSR, 12, &Config::TrimSR, 12},
      {Ctl::LFERedir, 1, &Config::LFERedir, 1},
      {Ctl::LFECutoff, 90, &Config::LFECutoff, 90},
      {Ctl::LFEInvert, 1, &Config::LFEInvert, 1},
      {Ctl::Precision, 1, &Config::SlaveRes, 24},
      {Ctl::SSE2Enable, 0, &Config::SSE2Enable, 0},
      {Ctl::CUDAEnable, 0, &Config::CUDAEnable, 0},
      {Ctl::ShowIconPlaying, 1, &Config::ShowIconPlaying, 1},
      {Ctl::ShowDecoderInactive, 0, &Config::ShowDecoderInactive, 0},
      {Ctl::ShowIcon, 0, &Config::ShowIcon, 0},
  };
  Make();
  dlg->Show();
  for (const auto& r : rows) {
    QWidget* w = view->Widget(r.c);
    ASSERT_NE(w, nullptr) << static_cast<int>(r.c);
    if (auto* s = qobject_cast<QSpinBox*>(w)) {
      s->setFocus();
      s->selectAll();
      QTest::keyClicks(s, QString::number(r.value));
      s->interpretText();  // as Enter or leaving the box does
    } else if (auto* l = qobject_cast<QComboBox*>(w)) {
      l->setCurrentIndex(r.value);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->isChecked() != (r.value != 0)) b->click();
    }
    EXPECT_EQ(host.live.*(r.field), r.want) << "control " << static_cast<int>(r.c);
  }
  EXPECT_TRUE(view->ButtonWidget(Button::Apply)->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>(Ctl::ShowIconPlaying)->isEnabled());
}

TEST_F(QtView, ApplyOkCancelAndEscape) {
  Make();
  dlg->Show();
  auto* delay = Get<QSpinBox>(Ctl::DelayC);
  delay->setValue(30);
  EXPECT_EQ(host.live.DelayC, 30);
  QTest::mouseClick(view->ButtonWidget(Button::Apply), Qt::LeftButton);
  EXPECT_EQ(host.saves, 1);
  EXPECT_FALSE(view->ButtonWidget(Button::Apply)->isEnabled());

  delay->setValue(50);
  QTest::mouseClick(view->ButtonWidget(Button::Cancel), Qt::LeftButton);
  EXPECT_EQ(host.live.DelayC, 30);
  EXPECT_EQ(delay->value(), 30);
  EXPECT_FALSE(view->isVisible());

  dlg->Show();
  delay->setValue(70);
  QTest::keyClick(view.get(), Qt::Key_Escape);
  EXPECT_EQ(host.live.DelayC, 30) << "Escape is Cancel";
  EXPECT_FALSE(view->isVisible());

  dlg->Show();
  delay->setValue(80);
  QTest::mouseClick(view->ButtonWidget(Button::OK), Qt::LeftButton);
  EXPECT_EQ(host.saves, 2);
  EXPECT_EQ(host.stored->DelayC, 80);
  EXPECT_FALSE(view->isVisible());
}

TEST_F(QtView, CloseButtonHidesWithoutRevertingOrDestroying) {
  Make();
  dlg->Show();
  Get<QSpinBox>(Ctl::DelayL)->setValue(12);
  EXPECT_TRUE(view->close() == false || !view->isVisible());
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(host.live.DelayL, 12);
  EXPECT_EQ(host.saves, 0);
  dlg->Show();
  EXPECT_TRUE(view->isVisible());
}

TEST_F(QtView, DefaultAsksThenFillsTheDefaults) {
  host.live.TrimR = 5;
  host.live.LastTab = ui::kTabRoom;
  Make();
  dlg->Show();
  AnswerNextBox(QMessageBox::No);
  QTest::mouseClick(view->ButtonWidget(Button::Default), Qt::LeftButton);
  EXPECT_EQ(host.live.TrimR, 5);
  AnswerNextBox(QMessageBox::Yes);
  QTest::mouseClick(view->ButtonWidget(Button::Default), Qt::LeftButton);
  EXPECT_EQ(host.live.TrimR, 0);
  EXPECT_EQ(Get<QSpinBox>(Ctl::TrimR)->value(), 0);
  EXPECT_EQ(view->Tabs()->currentIndex(), ui::kTabRoom);
  EXPECT_TRUE(view->ButtonWidget(Button::Apply)->isEnabled());
}

TEST_F(QtView, OpensOnTheLastTabAndRemembersTheChosenOne) {
  host.live.LastTab = ui::kTabSystem;
  Make();
  EXPECT_EQ(view->Tabs()->currentIndex(), ui::kTabSystem);
  view->Tabs()->setCurrentIndex(ui::kTabHeadphones);
  EXPECT_EQ(host.live.LastTab, ui::kTabHeadphones);
  EXPECT_FALSE(view->ButtonWidget(Button::Apply)->isEnabled());
  // The Main tab's link takes the user to the steered mode's tab.
  host.live.Mode = kModeActive;
  Make();
  auto* link = Get<QLabel>(Ctl::LinkMain);
  EXPECT_FALSE(link->isHidden());
  emit link->linkActivated(QStringLiteral("#"));
  EXPECT_EQ(view->Tabs()->currentIndex(), ui::kTabSurround);
  Get<QComboBox>(Ctl::ModeList)->setCurrentIndex(kModeBypass);
  EXPECT_TRUE(link->isHidden());
}

TEST_F(QtView, CentreWeightPictureStatusLineAndAboutTab) {
  host.live.CentreWeight = 40;
  host.live.Mode = kModeHeadphones;
  host.OpenStream(2, 96000);
  Make();
  EXPECT_TRUE(view->CentreBox()->styleSheet().contains(QStringLiteral("rgb(153, 153, 153)")));
  EXPECT_TRUE(view->Arrow(0)->styleSheet().contains(QStringLiteral("rgb(102, 102, 102)")));
  EXPECT_TRUE(view->Arrow(1)->styleSheet().contains(QStringLiteral("rgb(102, 102, 102)")));
  EXPECT_EQ(view->StatusLabel()->text(), QStringLiteral("Sonavel Headphone - Invalid format, bypass active"));
  EXPECT_EQ(view->StatusLabel()->toolTip(), QStringLiteral("Source must have a sample rate of 44.1 or 48 KHz"));
  host.live.Mode = kModeBypass;
  // The status timer runs every 100 ms; wait for its next tick (bounded).
  for (int i = 0; i < 250 && view->StatusLabel()->text() != QStringLiteral("Bypass - Active"); ++i) QTest::qWait(20);
  EXPECT_EQ(view->StatusLabel()->text(), QStringLiteral("Bypass - Active"));
  EXPECT_EQ(Get<QLabel>(Ctl::AboutDescription)->text(), QStringLiteral("Tamberlin Sonavel v1.00"));
  EXPECT_TRUE(Get<QLabel>(Ctl::AboutBuilt)->text().startsWith(QStringLiteral("Built on: ")));
}

TEST_F(QtView, IconMenuOpensTheWindowAndSwitchesTheModeWithoutApply) {
  Make();
  QMenu* menu = view->IconMenu();
  ASSERT_NE(menu, nullptr);
  QAction* open = menu->actions().value(0);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->text(), QStringLiteral("Configuration"));
  EXPECT_TRUE(open->font().bold());
  EXPECT_TRUE(menu->actions().value(1)->isSeparator());
  EXPECT_EQ(view->TrayIcon()->toolTip(), QStringLiteral("Sonavel - Sonavel-SN"));
  open->trigger();
  EXPECT_TRUE(view->isVisible());
  Get<QComboBox>(Ctl::IconModeList)->setCurrentIndex(kModeEncoder);
  EXPECT_EQ(host.live.Mode, kModeEncoder);
  EXPECT_EQ(Get<QComboBox>(Ctl::ModeList)->currentIndex(), kModeEncoder);
  EXPECT_EQ(view->TrayIcon()->toolTip(), QStringLiteral("Sonavel - Sonavel Encoder"));
  EXPECT_FALSE(view->ButtonWidget(Button::Apply)->isEnabled());
}

TEST_F(QtView, AboutBoxClosesWithOkOrEscape) {
  for (bool escape : {false, true}) {
    ui::qt::AboutDlg box;
    box.show();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    QStringList texts;
    for (QLabel* l : box.findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Tamberlin Sonavel v1.00")));
    if (escape) {
      QTest::keyClick(&box, Qt::Key_Escape);
    } else {
      QPushButton* ok = box.findChild<QPushButton*>();
      ASSERT_NE(ok, nullptr);
      EXPECT_EQ(ok->text(), QStringLiteral("OK"));
      QTest::mouseClick(ok, Qt::LeftButton);
    }
    EXPECT_FALSE(box.isVisible()) << (escape ? "Escape" : "OK");
  }
}

// The real module with the recording slave: a delay moved in its spin box
// while a stream plays is heard in the very next block.
class QtViewLive : public test::HostFixture {
 protected:
  void SetUp() override {
    App();
    HostFixture::SetUp();
  }
};

TEST_F(QtViewLive, DelayMovedInTheWindowShowsUpAtTheSlave) {
  InitModule();
  CSonavelUiHost host(Sonavel);
  ui::qt::QtConfigView view;
  ui::ConfigDlg dlg(host, view);
  dlg.Show();
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  auto click = Pcm16(576, 2, [](int f, int) { return f == 0 ? 20000 : 0; });
  ASSERT_EQ(rec_->Write(click.data(), static_cast<int>(click.size())), 0);
  EXPECT_GT(OutSample(0, 0), 10000);

  auto* delay = qobject_cast<QSpinBox*>(view.Widget(Ctl::DelayL));
  ASSERT_NE(delay, nullptr);
  delay->setFocus();
  delay->selectAll();
  QTest::keyClicks(delay, QStringLiteral("2"));
  EXPECT_EQ(CfgGet(Sonavel.m_Config.DelayL), 0) << "a typed number counts once it is confirmed";
  delay->interpretText();  // as Enter or leaving the box does
  EXPECT_EQ(CfgGet(Sonavel.m_Config.DelayL), 2);

  slave_->data.clear();
  ASSERT_EQ(rec_->Write(click.data(), static_cast<int>(click.size())), 0);
  EXPECT_EQ(OutSample(0, 0), 0) << "the left channel is late now";
  EXPECT_GT(OutSample(96, 0), 10000) << "by 2 ms, 96 frames at 48 kHz";
  EXPECT_GT(OutSample(0, 1), 10000) << "the right channel is not";

  // Cancel puts the delay back, and the engine follows.
  QTest::mouseClick(view.ButtonWidget(Button::Cancel), Qt::LeftButton);
  EXPECT_EQ(CfgGet(Sonavel.m_Config.DelayL), 0);
  slave_->data.clear();
  ASSERT_EQ(rec_->Write(click.data(), static_cast<int>(click.size())), 0);
  EXPECT_GT(OutSample(0, 0), 10000);
  rec_->Close();
}

}  // namespace
}  // namespace sn
