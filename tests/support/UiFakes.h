// A settings host and a view that only record, for the user interface's
// behaviour tests.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "ui/ConfigView.h"
#include "ui/SettingsHost.h"

namespace sn::test {

class FakeHost : public ui::SettingsHost {
 public:
  FakeHost() : live(DefaultConfig()), saved(live) {}

  const Config& Live() const override { return live; }
  void SetSetting(int32_t Config::*field, int32_t value) override {
    const int32_t before = live.*field;
    live.*field = value;
    ++recomputes;
    if (field == &Config::Mode && before != value) ++resets;
  }
  void SetSettings(const Config& c) override {
    const int32_t before = live.Mode;
    live = c;
    ++recomputes;
    if (live.Mode != before) ++resets;
  }
  void SetSlavePath(const char16_t* path) override { sn::SetSlavePath(live, path); }
  void PushConfig() override { saved = live; ++pushes; }
  void PopConfig() override {
    SetSettings(saved);
    ++pops;
  }
  void SaveConfig() override {
    stored = live;
    ++saves;
  }
  void FlagSlaveModuleReload() override { ++reloads; }
  uint32_t GetSRate() const override { return rate; }
  int GetChannels() const override { return channels; }
  bool IsOpen() const override { return open; }
  bool IsSSE2Supported() const override { return sse2; }
  bool IsCUDASupported() const override { return cuda; }
  bool ClaimBalloon() override {
    ++claims;
    return !std::exchange(balloonTaken, true);
  }
  const char16_t* UseSlave(const char16_t* path, SlaveCall call, void*) override {
    slaveCalls.emplace_back(path, call);
    return slaveMessage;
  }

  // What the host's Open does for the user interface.
  void OpenStream(int ch, uint32_t r) {
    open = true;
    channels = ch;
    rate = r;
    balloonTaken = false;
  }
  std::u16string SlavePath() const {
    char16_t p[kSlavePathChars];
    GetSlavePath(live, p);
    return p;
  }

  Config live, saved;
  std::optional<Config> stored;
  int recomputes = 0, resets = 0, pushes = 0, pops = 0, saves = 0, reloads = 0, claims = 0;
  uint32_t rate = 0;
  int channels = 0;
  bool open = false, sse2 = true, cuda = true, balloonTaken = false;
  const char16_t* slaveMessage = nullptr;
  std::vector<std::pair<std::u16string, SlaveCall>> slaveCalls;
};

class FakeView : public ui::ConfigView {
 public:
  void SetEvents(ui::ConfigViewEvents* e) override { events = e; }
  void SetValue(ui::Ctl c, int32_t v) override { values[c] = v; }
  void SetText(ui::Ctl c, const std::u16string& t) override { texts[c] = t; }
  void SetEnabled(ui::Ctl c, bool e) override { enabled[c] = e; }
  void SetVisible(ui::Ctl c, bool v) override { visible[c] = v; }
  void SelectTab(int i) override { tab = i; }
  void SetCentreGreys(int box, int arrows) override { greys = {box, arrows}; }
  void SetStatus(const std::u16string& t, const std::u16string& tip) override {
    status = t;
    statusTip = tip;
  }
  void ShowWindow() override {
    shown = true;
    ++activations;
  }
  void HideWindow() override { shown = false; }
  void* NativeHandle() override { return this; }
  bool AskYesNo(const std::u16string& text, const std::u16string& caption) override {
    questions.push_back(caption + u": " + text);
    return answerYes;
  }
  void ShowError(const std::u16string& text, const std::u16string& caption) override {
    errors.push_back(caption + u": " + text);
  }
  std::optional<std::u16string> PickFile(const std::u16string& title, const std::u16string& filter,
                                         const std::u16string& pattern, const std::u16string& initial) override {
    pickAsked = title + u"|" + filter + u"|" + pattern + u"|" + initial;
    return picked;
  }
  bool HasNotificationArea() const override { return area; }
  void SetIconVisible(bool v) override { iconShown = v && area; }
  void SetIconText(const std::u16string& t) override { iconText = t; }
  void ShowBalloon(const std::u16string& title, const std::u16string& text) override {
    balloons.push_back(title + u": " + text);
  }

  int Value(ui::Ctl c) const {
    auto it = values.find(c);
    return it == values.end() ? -999 : it->second;
  }

  ui::ConfigViewEvents* events = nullptr;
  std::map<ui::Ctl, int32_t> values;
  std::map<ui::Ctl, std::u16string> texts;
  std::map<ui::Ctl, bool> enabled, visible;
  int tab = -1;
  std::pair<int, int> greys{-1, -1};
  std::u16string status, statusTip, iconText, pickAsked;
  bool shown = false, answerYes = true, area = true, iconShown = false;
  int activations = 0;
  std::vector<std::u16string> questions, errors, balloons;
  std::optional<std::u16string> picked;
};

}  // namespace sn::test
