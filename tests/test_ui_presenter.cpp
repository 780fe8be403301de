// The settings window's and the notification icon's behaviour, headless: a
// recording host and view stand in for the plug-in and the toolkit.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "support/UiFakes.h"
#include "ui/ConfigDlg.h"
#include "ui/Texts.h"

namespace sn {
namespace {

using test::FakeHost;
using test::FakeView;
using ui::Button;
using ui::Ctl;

std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class Presenter : public ::testing::Test {
 protected:
  // Builds the window's behaviour over the current host state, as the
  // user-interface thread does when it starts.
  void Make() {
    dlg.reset();
    dlg = std::make_unique<ui::ConfigDlg>(host, view);
  }
  void Edit(Ctl c, int32_t v) { view.events->ValueChanged(c, v); }
  void Click(Button b) { view.events->ButtonClicked(b); }

  FakeHost host;
  FakeView view;
  std::unique_ptr<ui::ConfigDlg> dlg;
};

TEST_F(Presenter, FillsEveryControlFromTheLiveSettingsAndStaysHidden) {
  Config& c = host.live;
  c.Mode = kModeEncoder;
  c.MasterGain = -4;
  c.SurroundMode = 0;
  c.CentreWeight = 40;
  c.SurroundDelayMusic = 7;
  c.SurroundDelayMovie = 33;
  c.MusicSurroundShelf = 1;
  c.HeadphonesMode = 1;
  c.HeadphonesDecodeMusic = 0;
  c.DelaySR = 99;
  c.TrimSub = -12;
  c.LFERedir = 0;
  c.LFECutoff = 80;
  c.LFEInvert = 1;
  c.SlaveRes = 24;
  c.ShowIcon = 0;
  c.LastTab = 3;
  SetSlavePath(c, u"/opt/slaves/out_test.so");
  Make();

  const struct {
    Ctl ctl;
    int32_t want;
  } rows[] = {
      {Ctl::ModeList, 4},        {Ctl::IconModeList, 4},     {Ctl::MasterGain, -4},       {Ctl::SurroundMusic, 0},
      {Ctl::SurroundMovie, 1},   {Ctl::CentreWeight, 40},    {Ctl::SurroundDelayMusic, 7}, {Ctl::SurroundDelayMovie, 33},
      {Ctl::MusicShelf, 1},      {Ctl::HeadphonesMusic, 0},  {Ctl::HeadphonesMovie, 1},   {Ctl::DecodeMusic, 0},
      {Ctl::DecodeMovie, 1},     {Ctl::DelaySR, 99},         {Ctl::DelayL, 0},            {Ctl::TrimSub, -12},
      {Ctl::LFERedir, 0},        {Ctl::LFECutoff, 80},       {Ctl::LFEInvert, 1},         {Ctl::Precision, 1},
      {Ctl::SSE2Enable, 1},      {Ctl::CUDAEnable, 1},       {Ctl::ShowIcon, 0},          {Ctl::ShowIconPlaying, 0},
      {Ctl::ShowDecoderInactive, 1},
  };
  for (const auto& r : rows) EXPECT_EQ(view.Value(r.ctl), r.want) << "control " << static_cast<int>(r.ctl);
  EXPECT_EQ(U8(view.texts[Ctl::SlaveFile]), "/opt/slaves/out_test.so");
  EXPECT_EQ(U8(view.texts[Ctl::SSE2Label]), "SSE2 is supported");
  EXPECT_EQ(U8(view.texts[Ctl::AboutDescription]), "Tamberlin Sonavel v1.00");
  EXPECT_EQ(U8(view.texts[Ctl::AboutBuilt]).rfind("Built on: ", 0), 0u);
  EXPECT_FALSE(view.visible[Ctl::LinkMain]);
  EXPECT_FALSE(view.enabled[Ctl::LFECutoff]);
  EXPECT_FALSE(view.enabled[Ctl::LFEInvert]);
  EXPECT_FALSE(view.enabled[Ctl::ShowIconPlaying]);
  EXPECT_FALSE(view.enabled[Ctl::ShowDecoderInactive]);
  EXPECT_FALSE(view.enabled[Ctl::Apply]);
  EXPECT_EQ(view.tab, 3);
  EXPECT_EQ(U8(view.iconText), "Sonavel - Sonavel Encoder");
  EXPECT_EQ(U8(view.status), "Inactive");
  EXPECT_FALSE(view.shown);
  // Filling the form changes no setting and touches neither the engine nor the store.
  EXPECT_EQ(host.resets, 0);
  EXPECT_EQ(host.saves, 0);
  EXPECT_EQ(host.live.LastTab, 3);
}

// One row per control of the window: what the user sets, the field it writes
// and the value that field then holds.
struct ControlRow {
  const char* name;
  Ctl ctl;
  int32_t value;
  int32_t Config::*field;
  int32_t want;
};

void PrintTo(const ControlRow& r, std::ostream* os) { *os << r.name; }

class PresenterControl : public Presenter, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(PresenterControl, WritesItsFieldLiveAndEnablesApply) {
  const ControlRow& r = GetParam();
  Make();
  dlg->Show();
  const int recomputes = host.recomputes;
  Edit(r.ctl, r.value);
  EXPECT_EQ(host.live.*(r.field), r.want);
  EXPECT_GT(host.recomputes, recomputes) << "the settings entry recomputes the engine's constants";
  EXPECT_TRUE(dlg->ApplyEnabled());
  EXPECT_TRUE(view.enabled[Ctl::Apply]);
  EXPECT_EQ(host.saves, 0) << "nothing is stored before Apply or OK";
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresenterControl,
    ::testing::Values(
        ControlRow{"ModeList", Ctl::ModeList, 1, &Config::Mode, 1},
        ControlRow{"MasterGain", Ctl::MasterGain, -5, &Config::MasterGain, -5},
        ControlRow{"MasterGainAboveRange", Ctl::MasterGain, 9, &Config::MasterGain, 6},
        ControlRow{"SurroundMovie", Ctl::SurroundMovie, 1, &Config::SurroundMode, 0},
        ControlRow{"SurroundDelayMusic", Ctl::SurroundDelayMusic, 37, &Config::SurroundDelayMusic, 37},
        ControlRow{"SurroundDelayMovieBelowRange", Ctl::SurroundDelayMovie, 3, &Config::SurroundDelayMovie, 10},
        ControlRow{"CentreWeight", Ctl::CentreWeight, 40, &Config::CentreWeight, 40},
        ControlRow{"MusicShelf", Ctl::MusicShelf, 1, &Config::MusicSurroundShelf, 1},
        ControlRow{"HeadphonesMovie", Ctl::HeadphonesMovie, 1, &Config::HeadphonesMode, 1},
        ControlRow{"DecodeMusic", Ctl::DecodeMusic, 0, &Config::HeadphonesDecodeMusic, 0},
        ControlRow{"DecodeMovie", Ctl::DecodeMovie, 0, &Config::HeadphonesDecodeMovie, 0},
        ControlRow{"DelayL", Ctl::DelayL, 1, &Config::DelayL, 1},
        ControlRow{"DelayR", Ctl::DelayR, 2, &Config::DelayR, 2},
        ControlRow{"DelayC", Ctl::DelayC, 3, &Config::DelayC, 3},
        ControlRow{"DelaySub", Ctl::DelaySub, 4, &Config::DelaySub, 4},
        ControlRow{"DelaySL", Ctl::DelaySL, 5, &Config::DelaySL, 5},
        ControlRow{"DelaySR", Ctl::DelaySR, 100, &Config::DelaySR, 100},
        ControlRow{"TrimL", Ctl::TrimL, -12, &Config::TrimL, -12},
        ControlRow{"TrimR", Ctl::TrimR, 12, &Config::TrimR, 12},
        ControlRow{"TrimC", Ctl::TrimC, 3, &Config::TrimC, 3},
        ControlRow{"TrimSub", Ctl::TrimSub, -3, &Config::TrimSub, -3},
        ControlRow{"TrimSL", Ctl::TrimSL, 7, &Config::TrimSL, 7},
        ControlRow{"TrimSRAboveRange", Ctl::TrimSR, 20, &Config::TrimSR, 12},
        ControlRow{"LFERedir", Ctl::LFERedir, 1, &Config::LFERedir, 1},
        ControlRow{"LFECutoff", Ctl::LFECutoff, 80, &Config::LFECutoff, 80},
        ControlRow{"LFEInvert", Ctl::LFEInvert, 1, &Config::LFEInvert, 1},
        ControlRow{"Precision24", Ctl::Precision, 1, &Config::SlaveRes, 24},
        ControlRow{"SSE2Enable", Ctl::SSE2Enable, 0, &Config::SSE2Enable, 0},
        ControlRow{"CUDAEnable", Ctl::CUDAEnable, 0, &Config::CUDAEnable, 0},
        ControlRow{"ShowIcon", Ctl::ShowIcon, 0, &Config::ShowIcon, 0},
        ControlRow{"ShowIconPlaying", Ctl::ShowIconPlaying, 1, &Config::ShowIconPlaying, 1},
        ControlRow{"ShowDecoderInactive", Ctl::ShowDecoderInactive, 0, &Config::ShowDecoderInactive, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Presenter, RadioButtonsWriteOnlyAsTheyBecomeChecked) {
  host.live.SurroundMode = 0;
  Make();
  Edit(Ctl::SurroundMovie, 0);  // the other one's unchecking
  EXPECT_EQ(host.live.SurroundMode, 0);
  EXPECT_FALSE(dlg->ApplyEnabled());
  Edit(Ctl::SurroundMusic, 1);
  EXPECT_EQ(host.live.SurroundMode, 1);
  Edit(Ctl::HeadphonesMovie, 1);
  Edit(Ctl::HeadphonesMusic, 1);
  EXPECT_EQ(host.live.HeadphonesMode, 0);
}

TEST_F(Presenter, PrecisionListMapsIndexToBitsBothWays) {
  host.live.SlaveRes = 24;
  Make();
  EXPECT_EQ(view.Value(Ctl::Precision), 1);
  Edit(Ctl::Precision, 0);
  EXPECT_EQ(host.live.SlaveRes, 16);
}

TEST_F(Presenter, BassRedirectionEnablesCutoffAndInvertWithoutTouchingThem) {
  Make();
  Edit(Ctl::LFERedir, 1);
  EXPECT_TRUE(view.enabled[Ctl::LFECutoff]);
  EXPECT_TRUE(view.enabled[Ctl::LFEInvert]);
  EXPECT_EQ(host.live.LFECutoff, 120);
  Edit(Ctl::LFERedir, 0);
  EXPECT_FALSE(view.enabled[Ctl::LFECutoff]);
  EXPECT_FALSE(view.enabled[Ctl::LFEInvert]);
}

TEST_F(Presenter, ShowInTaskbarHidesTheIconAndDisablesItsDependents) {
  Make();
  EXPECT_TRUE(view.iconShown);
  Edit(Ctl::ShowIcon, 0);
  EXPECT_FALSE(view.iconShown);
  EXPECT_FALSE(view.enabled[Ctl::ShowIconPlaying]);
  EXPECT_FALSE(view.enabled[Ctl::ShowDecoderInactive]);
  Edit(Ctl::ShowIcon, 1);
  EXPECT_TRUE(view.iconShown);
  EXPECT_TRUE(view.enabled[Ctl::ShowIconPlaying]);
  Edit(Ctl::ShowIconPlaying, 1);
  EXPECT_FALSE(view.iconShown) << "no stream is open";
}

TEST_F(Presenter, TabSelectionRemembersTheTabWithoutEnablingApply) {
  Make();
  view.events->TabSelected(4);
  EXPECT_EQ(host.live.LastTab, 4);
  EXPECT_FALSE(dlg->ApplyEnabled());
}

TEST_F(Presenter, StoredTabOutsideTheSixShowsTheFirst) {
  host.live.LastTab = 9;
  Make();
  EXPECT_EQ(view.tab, 0);
}

// The mode from the window's list and from the icon's list: both lists follow,
// the engine is reset, the icon's text changes; only the window's list counts
// as an edit for Apply.
TEST_F(Presenter, ModeFromTheWindowEnablesApplyModeFromTheIconDoesNot) {
  Make();
  dlg->Show();
  Edit(Ctl::ModeList, kModeEncoder);
  EXPECT_EQ(host.live.Mode, kModeEncoder);
  EXPECT_EQ(view.Value(Ctl::IconModeList), kModeEncoder);
  EXPECT_EQ(host.resets, 1);
  EXPECT_EQ(U8(view.iconText), "Sonavel - Sonavel Encoder");
  EXPECT_TRUE(dlg->ApplyEnabled());

  Click(Button::Apply);
  Edit(Ctl::IconModeList, kModeHeadphones);
  EXPECT_EQ(host.live.Mode, kModeHeadphones);
  EXPECT_EQ(view.Value(Ctl::ModeList), kModeHeadphones);
  EXPECT_EQ(host.resets, 2);
  EXPECT_TRUE(view.visible[Ctl::LinkMain]);
  EXPECT_EQ(U8(view.iconText), "Sonavel - Sonavel Headphone");
  EXPECT_FALSE(dlg->ApplyEnabled());
}

TEST_F(Presenter, IconTextFollowsEveryModeAndIgnoresOthers) {
  const char* texts[] = {"Sonavel - Bypass", "Sonavel - Passive decoding", "Sonavel - Sonavel-SN",
                         "Sonavel - Sonavel Headphone", "Sonavel - Sonavel Encoder"};
  Make();
  for (int m = 0; m < 5; ++m) {
    Edit(Ctl::IconModeList, m);
    EXPECT_EQ(U8(view.iconText), texts[m]);
  }
  host.live.Mode = 9;
  dlg->UpdateNotifyIconText();
  EXPECT_EQ(U8(view.iconText), texts[4]);
}

TEST_F(Presenter, ConfigureLinkShowsOnlyForTheSteeredModesAndLeadsToTheirTab) {
  const struct {
    int mode;
    bool visible;
    int tab;
  } rows[] = {{0, false, -1}, {1, false, -1}, {2, true, ui::kTabSurround}, {3, true, ui::kTabHeadphones}, {4, false, -1}};
  for (const auto& r : rows) {
    Make();
    view.tab = -1;
    Edit(Ctl::ModeList, r.mode);
    EXPECT_EQ(view.visible[Ctl::LinkMain], r.visible) << "mode " << r.mode;
    view.events->LinkClicked(ui::Link::Main);
    EXPECT_EQ(view.tab, r.tab) << "mode " << r.mode;
    if (r.tab >= 0) {
      EXPECT_EQ(host.live.LastTab, r.tab);
    }
  }
  for (ui::Link l : {ui::Link::HeadphonesMusic, ui::Link::HeadphonesMovie}) {
    view.tab = -1;
    view.events->LinkClicked(l);
    EXPECT_EQ(view.tab, ui::kTabSurround);
  }
}

TEST_F(Presenter, CentreWeightPictureGreysFollowTheWeight) {
  const struct {
    int weight, box, arrows;
  } rows[] = {{40, 153, 102}, {100, 0, 255}, {0, 255, 0}, {1, 253, 2}, {99, 3, 252}};
  host.live.CentreWeight = 40;
  Make();
  EXPECT_EQ(view.greys, std::make_pair(153, 102)) << "drawn when the form is filled";
  for (const auto& r : rows) {
    Edit(Ctl::CentreWeight, r.weight);
    EXPECT_EQ(view.greys, std::make_pair(r.box, r.arrows)) << "weight " << r.weight;
  }
}

TEST_F(Presenter, MachineWithoutAnExtensionShowsItOffAndClearsTheSetting) {
  host.sse2 = false;
  host.cuda = false;
  Make();
  EXPECT_EQ(view.Value(Ctl::SSE2Enable), 0);
  EXPECT_FALSE(view.enabled[Ctl::SSE2Enable]);
  EXPECT_EQ(U8(view.texts[Ctl::SSE2Label]), "No SSE2 support");
  EXPECT_EQ(host.live.SSE2Enable, 0);
  EXPECT_EQ(view.Value(Ctl::CUDAEnable), 0);
  EXPECT_FALSE(view.enabled[Ctl::CUDAEnable]);
  EXPECT_EQ(U8(view.texts[Ctl::CUDALabel]), "No CUDA support");
  EXPECT_EQ(host.live.CUDAEnable, 0);

  FakeHost other;
  FakeView otherView;
  other.live.CUDAEnable = 0;
  ui::ConfigDlg d(other, otherView);
  EXPECT_EQ(U8(otherView.texts[Ctl::CUDALabel]), "CUDA is supported");
  EXPECT_EQ(otherView.Value(Ctl::CUDAEnable), 0);
  EXPECT_TRUE(otherView.enabled[Ctl::CUDAEnable]);
}

TEST_F(Presenter, ApplyStoresPushesFlagsTheSlaveAndDisablesItself) {
  Make();
  dlg->Show();
  Edit(Ctl::DelayC, 12);
  Click(Button::Apply);
  ASSERT_TRUE(host.stored.has_value());
  EXPECT_EQ(host.stored->DelayC, 12);
  EXPECT_EQ(host.saved.DelayC, 12);
  EXPECT_EQ(host.reloads, 1);
  EXPECT_FALSE(dlg->ApplyEnabled());
  EXPECT_TRUE(view.shown);
  Click(Button::OK);
  EXPECT_EQ(host.saves, 2);
  EXPECT_FALSE(view.shown);
}

TEST_F(Presenter, CancelAfterEditsRestoresTheShownSettingsAndTheEngineFollows) {
  host.live.DelayC = 5;
  Make();
  dlg->Show();
  Edit(Ctl::DelayC, 40);
  Edit(Ctl::ModeList, kModeBypass);
  Edit(Ctl::CentreWeight, 40);
  const int resets = host.resets, recomputes = host.recomputes;
  Click(Button::Cancel);
  EXPECT_EQ(host.live.DelayC, 5);
  EXPECT_EQ(host.live.Mode, kModeActive);
  EXPECT_EQ(host.live.CentreWeight, 100);
  EXPECT_EQ(host.pops, 1);
  EXPECT_GT(host.recomputes, recomputes) << "the restored values reach the engine's constants";
  EXPECT_EQ(host.resets, resets + 1) << "the restored mode resets the engine";
  EXPECT_EQ(host.reloads, 1);
  EXPECT_EQ(host.saves, 0);
  EXPECT_EQ(view.Value(Ctl::DelayC), 5);
  EXPECT_EQ(view.Value(Ctl::ModeList), kModeActive);
  EXPECT_EQ(view.Value(Ctl::IconModeList), kModeActive);
  EXPECT_EQ(view.greys, std::make_pair(0, 255));
  EXPECT_EQ(U8(view.iconText), "Sonavel - Sonavel-SN");
  EXPECT_FALSE(dlg->ApplyEnabled());
  EXPECT_FALSE(view.shown);
}

TEST_F(Presenter, CancelRestoresTheSettingsAsLastApplied) {
  Make();
  dlg->Show();
  Edit(Ctl::TrimL, 3);
  Click(Button::Apply);
  Edit(Ctl::TrimL, -9);
  Click(Button::Cancel);
  EXPECT_EQ(host.live.TrimL, 3);
}

TEST_F(Presenter, CloseButtonHidesAndKeepsTheEditsLiveAndUnconfirmed) {
  Make();
  dlg->Show();
  Edit(Ctl::DelayL, 30);
  view.events->CloseRequested();
  EXPECT_FALSE(view.shown);
  EXPECT_EQ(host.live.DelayL, 30);
  EXPECT_EQ(host.saves, 0);
  EXPECT_EQ(host.pops, 0);
  EXPECT_EQ(host.saved.DelayL, 0);
}

TEST_F(Presenter, DefaultAsksThenLoadsEveryDefaultButTheTab) {
  Config& c = host.live;
  c.Mode = kModeEncoder;
  c.MasterGain = 3;
  c.DelaySL = 20;
  c.TrimC = -2;
  c.LFERedir = 1;
  c.ShowIcon = 0;
  c.SlaveRes = 24;
  c.LastTab = 4;
  SetSlavePath(c, u"/x/out_other.so");
  Make();
  dlg->Show();
  Click(Button::Default);
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(U8(view.questions[0]), "Sonavel: Are you sure you want to load all default values?");
  Config want = DefaultConfig();
  want.LastTab = 4;
  EXPECT_EQ(std::memcmp(&host.live, &want, sizeof want), 0);
  EXPECT_EQ(view.Value(Ctl::ModeList), kModeActive);
  EXPECT_EQ(view.Value(Ctl::DelaySL), 0);
  EXPECT_EQ(view.tab, 4);
  EXPECT_TRUE(dlg->ApplyEnabled());
  EXPECT_EQ(host.saves, 0);
  EXPECT_EQ(host.resets, 1);
  EXPECT_TRUE(view.iconShown);

  Click(Button::Cancel);
  EXPECT_EQ(host.live.Mode, kModeEncoder);
  EXPECT_EQ(host.live.DelaySL, 20);
  EXPECT_EQ(host.live.TrimC, -2);
  EXPECT_EQ(host.SlavePath(), u"/x/out_other.so");
}

TEST_F(Presenter, DefaultAnsweredNoChangesNothing) {
  host.live.DelaySL = 20;
  Make();
  dlg->Show();
  view.answerYes = false;
  Click(Button::Default);
  EXPECT_EQ(host.live.DelaySL, 20);
  EXPECT_FALSE(dlg->ApplyEnabled());
}

TEST_F(Presenter, ShowingAgainOnlyActivatesAndKeepsUnconfirmedEdits) {
  Make();
  dlg->Show();
  Edit(Ctl::DelayR, 17);
  dlg->Show();
  EXPECT_EQ(view.activations, 2);
  EXPECT_EQ(host.pushes, 1);
  EXPECT_TRUE(dlg->ApplyEnabled());
  Click(Button::Cancel);
  EXPECT_EQ(host.live.DelayR, 0);
}

TEST_F(Presenter, IconOpensTheWindowWithAFreshSavedCopy) {
  Make();
  host.live.DelayR = 8;  // changed while hidden, e.g. by the icon's mode list
  view.events->IconOpenRequested();
  EXPECT_TRUE(view.shown);
  EXPECT_EQ(host.saved.DelayR, 8);
  EXPECT_EQ(view.Value(Ctl::DelayR), 8);
}

TEST_F(Presenter, SelectValidatesTheModuleBeforeTakingIt) {
  Make();
  dlg->Show();
  view.picked = u"/usr/lib/out_new.so";
  const std::string before = U8(host.SlavePath());
  Click(Button::SlaveSelect);
  EXPECT_EQ(U8(view.pickAsked), "Select Slave Module File|Shared modules (*.so)|*.so|" + before);
  ASSERT_EQ(host.slaveCalls.size(), 1u);
  EXPECT_EQ(host.slaveCalls[0].second, ui::SettingsHost::SlaveCall::Check);
  EXPECT_EQ(host.SlavePath(), u"/usr/lib/out_new.so");
  EXPECT_EQ(U8(view.texts[Ctl::SlaveFile]), "/usr/lib/out_new.so");
  EXPECT_TRUE(dlg->ApplyEnabled());
  EXPECT_EQ(host.reloads, 0) << "the playing slave changes only at Apply or Cancel";
}

TEST_F(Presenter, SelectRefusesAModuleWithTheLoadersMessage) {
  Make();
  dlg->Show();
  const std::u16string before = host.SlavePath();
  host.slaveMessage = u"Slave module is not a valid Winamp out module.";
  view.picked = u"/tmp/libjunk.so";
  Click(Button::SlaveSelect);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(U8(view.errors[0]), "Sonavel Error: Slave module is not a valid Winamp out module.");
  EXPECT_EQ(host.SlavePath(), before);
  EXPECT_FALSE(dlg->ApplyEnabled());
}

TEST_F(Presenter, SelectRefusesAPathThatDoesNotFitAndIgnoresCancel) {
  Make();
  dlg->Show();
  const std::u16string before = host.SlavePath();
  view.picked = std::nullopt;
  Click(Button::SlaveSelect);
  EXPECT_TRUE(view.errors.empty());
  view.picked = u"/" + std::u16string(kSlavePathChars, u'a');
  Click(Button::SlaveSelect);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(U8(view.errors[0]), "Sonavel Error: The slave module's path is longer than 259 characters.");
  EXPECT_TRUE(host.slaveCalls.empty());
  EXPECT_EQ(host.SlavePath(), before);
}

TEST_F(Presenter, SlaveConfigureAndAboutUseTheShownFileAndReportErrors) {
  SetSlavePath(host.live, u"/m/out_x.so");
  Make();
  Click(Button::SlaveConfigure);
  Click(Button::SlaveAbout);
  ASSERT_EQ(host.slaveCalls.size(), 2u);
  EXPECT_EQ(host.slaveCalls[0], std::make_pair(std::u16string(u"/m/out_x.so"), ui::SettingsHost::SlaveCall::Config));
  EXPECT_EQ(host.slaveCalls[1].second, ui::SettingsHost::SlaveCall::About);
  EXPECT_TRUE(view.errors.empty());
  host.slaveMessage = u"Slave module could not be opened.";
  Click(Button::SlaveAbout);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(U8(view.errors[0]), "Sonavel Error: Slave module could not be opened.");
  EXPECT_FALSE(dlg->ApplyEnabled());
}

// The status line, every 100 ms: one row per state.
struct StatusRow {
  const char* name;
  bool open;
  int mode, channels;
  uint32_t rate;
  const char* text;
  const char* tip;
};

void PrintTo(const StatusRow& r, std::ostream* os) { *os << r.name; }

class PresenterStatus : public Presenter, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(PresenterStatus, TickShowsTheStreamStateInTheMode) {
  const StatusRow& r = GetParam();
  Make();
  view.status = u"previous";
  view.statusTip = u"previous tip";
  host.live.Mode = r.mode;
  host.open = r.open;
  host.channels = r.channels;
  host.rate = r.rate;
  view.events->TimerTick();
  EXPECT_EQ(U8(view.status), r.text);
  EXPECT_EQ(U8(view.statusTip), r.tip);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresenterStatus,
    ::testing::Values(
        StatusRow{"Closed", false, 2, 2, 44100, "Inactive", "Inactive"},
        StatusRow{"Bypass", true, 0, 2, 44100, "Bypass - Active", "Inactive"},
        StatusRow{"PassiveStereo", true, 1, 2, 44100, "Passive - Decoding", "Working"},
        StatusRow{"PassiveSix", true, 1, 6, 44100, "Passive - Invalid format, bypass active", "Source must have 2 channels"},
        StatusRow{"ActiveStereo", true, 2, 2, 96000, "Sonavel-SN - Decoding", "Working"},
        StatusRow{"ActiveMono", true, 2, 1, 44100, "Sonavel-SN - Invalid format, bypass active",
                  "Source must have 2 channels"},
        StatusRow{"Headphones44", true, 3, 2, 44100, "Sonavel Headphone - Decoding", "Working"},
        StatusRow{"HeadphonesSix48", true, 3, 6, 48000, "Sonavel Headphone - Decoding", "Working"},
        StatusRow{"Headphones96", true, 3, 2, 96000, "Sonavel Headphone - Invalid format, bypass active",
                  "Source must have a sample rate of 44.1 or 48 KHz"},
        StatusRow{"EncoderFive", true, 4, 5, 44100, "Sonavel Encoder - Encoding", "Working"},
        StatusRow{"EncoderSix", true, 4, 6, 44100, "Sonavel Encoder - Encoding", "Working"},
        StatusRow{"EncoderStereo", true, 4, 2, 44100, "Sonavel Encoder - Invalid format, bypass active",
                  "Source must have 5 or 6 channels"},
        StatusRow{"OtherModeKeepsTheText", true, 7, 2, 44100, "previous", "previous tip"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Presenter, IconVisibilityFollowsTheSettingsAndTheStream) {
  const struct {
    int icon, playingOnly;
    bool open, area, visible;
  } rows[] = {
      {0, 0, false, true, false}, {0, 1, true, true, false}, {1, 0, false, true, true},  {1, 0, true, true, true},
      {1, 1, false, true, false}, {1, 1, true, true, true},  {1, 0, true, false, false},
  };
  for (const auto& r : rows) {
    FakeHost h;
    FakeView v;
    v.area = r.area;
    h.live.ShowIcon = r.icon;
    h.live.ShowIconPlaying = r.playingOnly;
    ui::ConfigDlg d(h, v);
    h.open = r.open;
    d.UpdateNotifyIcon();
    EXPECT_EQ(v.iconShown, r.visible) << r.icon << r.playingOnly << r.open << r.area;
    EXPECT_EQ(d.IconVisible(), r.visible);
    d.HideNotifyIcon();
    EXPECT_FALSE(v.iconShown);
  }
}

// The balloon after an Open: by mode and source, at most once per stream,
// never while the icon is hidden or the setting is off.
struct BalloonRow {
  const char* name;
  int mode, channels;
  uint32_t rate;
  const char* text;  // null: no balloon
};

void PrintTo(const BalloonRow& r, std::ostream* os) { *os << r.name; }

class PresenterBalloon : public Presenter, public ::testing::WithParamInterface<BalloonRow> {};

TEST_P(PresenterBalloon, OneWarningPerStreamWhenTheModeCannotProcessIt) {
  const BalloonRow& r = GetParam();
  host.live.Mode = r.mode;
  Make();
  host.OpenStream(r.channels, r.rate);
  dlg->UpdateNotifyIcon();
  dlg->DecoderInactiveCheck();
  dlg->DecoderInactiveCheck();
  if (r.text) {
    ASSERT_EQ(view.balloons.size(), 1u);
    EXPECT_EQ(U8(view.balloons[0]), std::string("Sonavel: ") + r.text);
  } else {
    EXPECT_TRUE(view.balloons.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresenterBalloon,
    ::testing::Values(
        BalloonRow{"BypassNever", 0, 6, 96000, nullptr},
        BalloonRow{"PassiveStereoFine", 1, 2, 44100, nullptr},
        BalloonRow{"PassiveMono", 1, 1, 44100, "Passive decoder inactive\n\nSource must be 2 channels"},
        BalloonRow{"ActiveStereoFine", 2, 2, 96000, nullptr},
        BalloonRow{"ActiveSix", 2, 6, 44100, "Sonavel-SN inactive\n\nSource must be 2 channels"},
        BalloonRow{"Headphones48Fine", 3, 6, 48000, nullptr},
        BalloonRow{"Headphones96", 3, 2, 96000,
                   "Sonavel Headphone inactive\n\nSource must have a sample rate of 44.1 or 48 KHz"},
        BalloonRow{"EncoderFiveFine", 4, 5, 44100, nullptr},
        BalloonRow{"EncoderStereo", 4, 2, 44100, "Sonavel Encoder inactive\n\nSource must be 5 or 6 channels"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Presenter, BalloonAgainForTheNextStream) {
  host.live.Mode = kModeActive;
  Make();
  for (int stream = 0; stream < 2; ++stream) {
    host.OpenStream(6, 44100);
    dlg->UpdateNotifyIcon();
    dlg->DecoderInactiveCheck();
    dlg->DecoderInactiveCheck();
  }
  EXPECT_EQ(view.balloons.size(), 2u);
}

TEST_F(Presenter, NoBalloonWhileTheIconIsHiddenOrTheSettingIsOff) {
  const struct {
    const char* name;
    int icon, playingOnly, warn;
    bool area, iconUpdated;
    int claims;  // the stream's balloon is used up as soon as the setting asks for it
  } rows[] = {
      {"IconOff", 0, 0, 1, true, true, 1},
      {"NoNotificationArea", 1, 0, 1, false, true, 1},
      {"WarningsOff", 1, 0, 0, true, true, 0},
      {"PlayingOnlyShownAtOpen", 1, 1, 1, true, true, -1},
      {"PlayingOnlyNotYetShown", 1, 1, 1, true, false, 1},
  };
  for (const auto& r : rows) {
    FakeHost h;
    FakeView v;
    v.area = r.area;
    h.live.Mode = kModeActive;
    h.live.ShowIcon = r.icon;
    h.live.ShowIconPlaying = r.playingOnly;
    h.live.ShowDecoderInactive = r.warn;
    ui::ConfigDlg d(h, v);
    h.OpenStream(1, 44100);
    if (r.iconUpdated) d.UpdateNotifyIcon();
    d.DecoderInactiveCheck();
    const bool expectBalloon = r.claims < 0;
    EXPECT_EQ(v.balloons.size(), expectBalloon ? 1u : 0u) << r.name;
    if (r.claims >= 0) {
      EXPECT_EQ(h.claims, r.claims) << r.name;
    }
  }
}

TEST_F(Presenter, NoBalloonOnceTheStreamHasClosed) {
  host.live.Mode = kModeActive;
  Make();
  host.OpenStream(1, 44100);
  dlg->UpdateNotifyIcon();
  host.open = false;
  dlg->DecoderInactiveCheck();
  EXPECT_TRUE(view.balloons.empty());
}

TEST(UiTexts, BuildLineReadsTheCompilersDateAndTime) {
  EXPECT_EQ(ui::BuildLine("Mar 26 2009", "20:05:37"), u"Built on: Thu Mar 26 20:05:37 2009");
  EXPECT_EQ(ui::BuildLine("Jan 29 2009", "17:15:02"), u"Built on: Thu Jan 29 17:15:02 2009");
  EXPECT_EQ(ui::BuildLine("Feb  1 2000", "00:00:00"), u"Built on: Tue Feb  1 00:00:00 2000");
  EXPECT_EQ(ui::BuildLine("Dec 31 2024", "23:59:59"), u"Built on: Tue Dec 31 23:59:59 2024");
  EXPECT_EQ(ui::BuildLine("??? ?? ????", "??:??:??"), u"Built on: ??? ?? ???? ??:??:??");
}

TEST(UiTexts, ModeNamesInListOrder) {
  EXPECT_EQ(std::u16string(ui::ModeName(0)), u"Bypass");
  EXPECT_EQ(std::u16string(ui::ModeName(1)), u"Passive decoding (3/1) = L,R,C,S");
  EXPECT_EQ(std::u16string(ui::ModeName(2)), u"Sonavel-SN (3/2) = L,R,C,SL,SR");
  EXPECT_EQ(std::u16string(ui::ModeName(3)), u"Sonavel Headphone (2/0) = L,R");
  EXPECT_EQ(std::u16string(ui::ModeName(4)), u"Sonavel Encoder (2/0) = L,R");
}

}  // namespace
}  // namespace sn
