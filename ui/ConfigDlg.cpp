#include "ui/ConfigDlg.h"

#include <algorithm>

#include "ui/Texts.h"

namespace sn::ui {

namespace {

// How a control maps onto its field: numbers within their box's range, check
// boxes as 0/1, radio buttons by the value they stand for.
enum class Kind { Number, Check, Radio };

struct Binding {
  Ctl ctl;
  Kind kind;
  int32_t Config::*field;
  int32_t lo;  // Number: range; Radio: the value when checked
  int32_t hi;
};

constexpr Binding kBindings[] = {
    {Ctl::MasterGain, Kind::Number, &Config::MasterGain, -6, 6},
    {Ctl::SurroundMusic, Kind::Radio, &Config::SurroundMode, 1, 0},
    {Ctl::SurroundMovie, Kind::Radio, &Config::SurroundMode, 0, 0},
    {Ctl::SurroundDelayMusic, Kind::Number, &Config::SurroundDelayMusic, 0, 100},
    {Ctl::CentreWeight, Kind::Number, &Config::CentreWeight, 0, 100},
    {Ctl::MusicShelf, Kind::Check, &Config::MusicSurroundShelf, 0, 1},
    {Ctl::SurroundDelayMovie, Kind::Number, &Config::SurroundDelayMovie, 10, 100},
    {Ctl::HeadphonesMusic, Kind::Radio, &Config::HeadphonesMode, 0, 0},
    {Ctl::HeadphonesMovie, Kind::Radio, &Config::HeadphonesMode, 1, 0},
    {Ctl::DecodeMusic, Kind::Check, &Config::HeadphonesDecodeMusic, 0, 1},
    {Ctl::DecodeMovie, Kind::Check, &Config::HeadphonesDecodeMovie, 0, 1},
    {Ctl::DelayL, Kind::Number, &Config::DelayL, 0, 100},
    {Ctl::DelayR, Kind::Number, &Config::DelayR, 0, 100},
    {Ctl::DelayC, Kind::Number, &Config::DelayC, 0, 100},
    {Ctl::DelaySub, Kind::Number, &Config::DelaySub, 0, 100},
    {Ctl::DelaySL, Kind::Number, &Config::DelaySL, 0, 100},
    {Ctl::DelaySR, Kind::Number, &Config::DelaySR, 0, 100},
    {Ctl::TrimL, Kind::Number, &Config::TrimL, -12, 12},
    {Ctl::TrimR, Kind::Number, &Config::TrimR, -12, 12},
    {Ctl::TrimC, Kind::Number, &Config::TrimC, -12, 12},
    {Ctl::TrimSub, Kind::Number, &Config::TrimSub, -12, 12},
    {Ctl::TrimSL, Kind::Number, &Config::TrimSL, -12, 12},
    {Ctl::TrimSR, Kind::Number, &Config::TrimSR, -12, 12},
    {Ctl::LFERedir, Kind::Check, &Config::LFERedir, 0, 1},
    {Ctl::LFECutoff, Kind::Number, &Config::LFECutoff, 20, 200},
    {Ctl::LFEInvert, Kind::Check, &Config::LFEInvert, 0, 1},
    {Ctl::SSE2Enable, Kind::Check, &Config::SSE2Enable, 0, 1},
    {Ctl::CUDAEnable, Kind::Check, &Config::CUDAEnable, 0, 1},
    {Ctl::ShowIcon, Kind::Check, &Config::ShowIcon, 0, 1},
    {Ctl::ShowIconPlaying, Kind::Check, &Config::ShowIconPlaying, 0, 1},
    {Ctl::ShowDecoderInactive, Kind::Check, &Config::ShowDecoderInactive, 0, 1},
};

const Binding* Find(Ctl c) {
  for (const Binding& b : kBindings)
    if (b.ctl == c) return &b;
  return nullptr;
}

bool HasModeLink(int32_t mode) { return mode == kModeActive || mode == kModeHeadphones; }

}  // namespace

ConfigDlg::ConfigDlg(SettingsHost& host, ConfigView& view) : host_(host), view_(view) {
  view_.SetEvents(this);
  view_.SetIconText(kIconInitialText);
  UpdateForm();
  TimerTick();
}

ConfigDlg::~ConfigDlg() { view_.SetEvents(nullptr); }

void ConfigDlg::Show() {
  if (!windowShown_) {
    host_.PushConfig();
    UpdateForm();
  }
  view_.ShowWindow();
  windowShown_ = true;
}

void ConfigDlg::UpdateForm() {
  const Config& c = host_.Live();

  // The mode: both lists, the link, and the icon's text when the lists showed
  // another mode (this is also how the icon first gets its text).
  const int32_t mode = Get(&Config::Mode);
  view_.SetValue(Ctl::ModeList, mode);
  view_.SetValue(Ctl::IconModeList, mode);
  ShowModeLinks(mode);
  if (mode != shownMode_) {
    shownMode_ = mode;
    UpdateNotifyIconText();
  }

  for (const Binding& b : kBindings) {
    const int32_t v = CfgGet(c.*(b.field));
    if (b.kind == Kind::Radio) view_.SetValue(b.ctl, v == b.lo ? 1 : 0);
    else if (b.kind == Kind::Check) view_.SetValue(b.ctl, v ? 1 : 0);
    else view_.SetValue(b.ctl, std::clamp(v, b.lo, b.hi));
  }
  DrawCentreWeight(Get(&Config::CentreWeight));
  const bool redir = Get(&Config::LFERedir) != 0;
  view_.SetEnabled(Ctl::LFECutoff, redir);
  view_.SetEnabled(Ctl::LFEInvert, redir);

  char16_t path[kSlavePathChars];
  GetSlavePath(c, path);
  slaveText_ = path;
  view_.SetText(Ctl::SlaveFile, slaveText_);
  view_.SetValue(Ctl::Precision, Get(&Config::SlaveRes) == 24 ? 1 : 0);

  // An extension the machine lacks is shown off and cannot be turned on; the
  // setting follows the box, so it is cleared on such a machine.
  struct Extension {
    Ctl box, label;
    int32_t Config::*field;
    bool supported;
    const char16_t *yes, *no;
  };
  const Extension extensions[] = {
      {Ctl::SSE2Enable, Ctl::SSE2Label, &Config::SSE2Enable, host_.IsSSE2Supported(), kSSE2Yes, kSSE2No},
      {Ctl::CUDAEnable, Ctl::CUDALabel, &Config::CUDAEnable, host_.IsCUDASupported(), kCUDAYes, kCUDANo},
  };
  for (const Extension& e : extensions) {
    view_.SetText(e.label, e.supported ? e.yes : e.no);
    const int32_t checked = Get(e.field) && e.supported ? 1 : 0;
    view_.SetValue(e.box, checked);
    view_.SetEnabled(e.box, e.supported);
    if (Get(e.field) != checked) host_.SetSetting(e.field, checked);
  }

  const bool icon = Get(&Config::ShowIcon) != 0;
  view_.SetEnabled(Ctl::ShowIconPlaying, icon);
  view_.SetEnabled(Ctl::ShowDecoderInactive, icon);

  view_.SetText(Ctl::AboutDescription, kDescription);
  view_.SetText(Ctl::AboutCopyright, kCopyright);
  view_.SetText(Ctl::AboutWeb, kWebAddress);
  view_.SetText(Ctl::AboutBuilt, BuiltOn());

  // A stored tab outside the six shows the first one.
  const int32_t tab = Get(&Config::LastTab);
  view_.SelectTab(tab >= 0 && tab < kTabCount ? tab : kTabMain);
  SetApply(false);
  UpdateNotifyIcon();
}

void ConfigDlg::ValueChanged(Ctl c, int32_t value) {
  switch (c) {
    case Ctl::ModeList:
      ModeChosen(value, false);
      return;
    case Ctl::IconModeList:
      ModeChosen(value, true);
      return;
    case Ctl::Precision:
      host_.SetSetting(&Config::SlaveRes, value == 1 ? 24 : 16);
      SetApply(true);
      return;
    default:
      break;
  }
  const Binding* b = Find(c);
  if (!b) return;
  switch (b->kind) {
    case Kind::Number:
      value = std::clamp(value, b->lo, b->hi);
      host_.SetSetting(b->field, value);
      break;
    case Kind::Check:
      value = value ? 1 : 0;
      host_.SetSetting(b->field, value);
      break;
    case Kind::Radio:
      if (!value) return;
      host_.SetSetting(b->field, b->lo);
      break;
  }
  switch (c) {
    case Ctl::CentreWeight:
      DrawCentreWeight(value);
      break;
    case Ctl::LFERedir:
      view_.SetEnabled(Ctl::LFECutoff, value != 0);
      view_.SetEnabled(Ctl::LFEInvert, value != 0);
      break;
    case Ctl::ShowIcon:
      UpdateNotifyIcon();
      view_.SetEnabled(Ctl::ShowIconPlaying, value != 0);
      view_.SetEnabled(Ctl::ShowDecoderInactive, value != 0);
      break;
    case Ctl::ShowIconPlaying:
      UpdateNotifyIcon();
      break;
    default:
      break;
  }
  SetApply(true);
}

void ConfigDlg::ModeChosen(int32_t mode, bool fromIcon) {
  if (mode < 0 || mode >= kModeCount) return;
  host_.SetSetting(&Config::Mode, mode);
  view_.SetValue(fromIcon ? Ctl::ModeList : Ctl::IconModeList, mode);
  ShowModeLinks(mode);
  shownMode_ = mode;
  UpdateNotifyIconText();
  // A mode picked from the icon is stored at the next Apply, OK or Quit, but
  // does not count as an edit of the window.
  if (!fromIcon) SetApply(true);
}

void ConfigDlg::ShowModeLinks(int32_t mode) { view_.SetVisible(Ctl::LinkMain, HasModeLink(mode)); }

void ConfigDlg::DrawCentreWeight(int32_t weight) {
  const int v = std::clamp(weight, 0, 100) * 255 / 100;
  view_.SetCentreGreys(255 - v, v);
}

void ConfigDlg::TabSelected(int index) {
  if (index >= 0 && index < kTabCount) host_.SetSetting(&Config::LastTab, index);
}

void ConfigDlg::SelectTabByLink(int tab) {
  view_.SelectTab(tab);
  TabSelected(tab);
}

void ConfigDlg::LinkClicked(Link l) {
  if (l != Link::Main) {
    SelectTabByLink(kTabSurround);
    return;
  }
  const int32_t mode = Get(&Config::Mode);
  if (mode == kModeActive) SelectTabByLink(kTabSurround);
  else if (mode == kModeHeadphones) SelectTabByLink(kTabHeadphones);
}

void ConfigDlg::ButtonClicked(Button b) {
  switch (b) {
    case Button::Apply:
      Apply();
      break;
    case Button::OK:
      Apply();
      view_.HideWindow();
      windowShown_ = false;
      break;
    case Button::Cancel:
      Cancel();
      break;
    case Button::Default:
      Default();
      break;
    case Button::SlaveSelect:
      SelectSlave();
      break;
    case Button::SlaveConfigure:
      CallSlave(SettingsHost::SlaveCall::Config);
      break;
    case Button::SlaveAbout:
      CallSlave(SettingsHost::SlaveCall::About);
      break;
  }
}

void ConfigDlg::Apply() {
  host_.SaveConfig();
  host_.PushConfig();
  host_.FlagSlaveModuleReload();
  SetApply(false);
}

void ConfigDlg::Cancel() {
  host_.PopConfig();
  host_.FlagSlaveModuleReload();
  UpdateForm();
  view_.HideWindow();
  windowShown_ = false;
}

void ConfigDlg::CloseRequested() {
  // Edits stay live and unconfirmed: neither reverted nor stored.
  view_.HideWindow();
  windowShown_ = false;
}

void ConfigDlg::Default() {
  if (!view_.AskYesNo(kDefaultQuestion, kQuestionCaption)) return;
  Config d = DefaultConfig();
  d.LastTab = Get(&Config::LastTab);
  host_.SetSettings(d);
  UpdateForm();
  SetApply(true);
}

void ConfigDlg::SelectSlave() {
  const std::optional<std::u16string> picked = view_.PickFile(kSelectTitle, kSlaveFilterName, kSlavePattern, slaveText_);
  if (!picked || picked->empty()) return;
  // A cut path would name another file: refuse it instead of truncating.
  if (picked->size() >= static_cast<size_t>(kSlavePathChars)) {
    view_.ShowError(kSlavePathTooLong, kErrorCaption);
    return;
  }
  if (const char16_t* msg = host_.UseSlave(picked->c_str(), SettingsHost::SlaveCall::Check, view_.NativeHandle())) {
    view_.ShowError(msg, kErrorCaption);
    return;
  }
  slaveText_ = *picked;
  view_.SetText(Ctl::SlaveFile, slaveText_);
  host_.SetSlavePath(slaveText_.c_str());
  SetApply(true);
}

void ConfigDlg::CallSlave(SettingsHost::SlaveCall call) {
  if (const char16_t* msg = host_.UseSlave(slaveText_.c_str(), call, view_.NativeHandle()))
    view_.ShowError(msg, kErrorCaption);
}

void ConfigDlg::SetApply(bool enabled) {
  applyEnabled_ = enabled;
  view_.SetEnabled(Ctl::Apply, enabled);
}

void ConfigDlg::IconOpenRequested() { Show(); }

void ConfigDlg::TimerTick() {
  const std::optional<Status> s = StatusFor(host_.IsOpen(), Get(&Config::Mode), host_.GetChannels(), host_.GetSRate());
  if (s) view_.SetStatus(s->text, s->tip);
}

void ConfigDlg::UpdateNotifyIcon() {
  const bool wanted = Get(&Config::ShowIcon) && (!Get(&Config::ShowIconPlaying) || host_.IsOpen());
  view_.SetIconVisible(wanted);
  iconVisible_ = wanted && view_.HasNotificationArea();
}

void ConfigDlg::UpdateNotifyIconText() {
  if (const char16_t* text = IconText(Get(&Config::Mode))) view_.SetIconText(text);
}

void ConfigDlg::HideNotifyIcon() {
  view_.SetIconVisible(false);
  iconVisible_ = false;
}

void ConfigDlg::DecoderInactiveCheck() {
  if (Get(&Config::ShowDecoderInactive) && host_.ClaimBalloon()) ShowDecoderInactiveBalloonTips();
}

void ConfigDlg::ShowDecoderInactiveBalloonTips() {
  if (!iconVisible_ || !host_.IsOpen()) return;
  if (const char16_t* text = BalloonText(Get(&Config::Mode), host_.GetChannels(), host_.GetSRate()))
    view_.ShowBalloon(kBalloonTitle, text);
}

}  // namespace sn::ui
