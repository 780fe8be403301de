// ui-shots: renders each tab of the settings window and the about box to PNG
// files, plus the whole screen with the window, the notification icon and a
// decoder-inactive balloon. Run it under an X server with a notification area
// (scripts/ui-shots.sh does) or with QT_QPA_PLATFORM=offscreen (no screen shot).
//
// The window runs over a stand-in plug-in that plays a 96 kHz stereo stream in
// headphone mode, so the status line and the balloon have something to say.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QTabWidget>
#include <QThread>

#include <cstdio>
#include <string>

#include "config/Config.h"
#include "ui/ConfigDlg.h"
#include "ui/SettingsHost.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/QtConfigView.h"

namespace {

class ShotHost final : public sn::ui::SettingsHost {
 public:
  ShotHost() : live_(sn::DefaultConfig()), saved_(live_) {
    live_.Mode = sn::kModeHeadphones;
    live_.CentreWeight = 40;
    live_.LFERedir = 1;
    live_.DelaySL = 12;
    live_.DelaySR = 12;
    live_.TrimSub = -3;
  }
  const sn::Config& Live() const override { return live_; }
  void SetSetting(int32_t sn::Config::*field, int32_t value) override { live_.*field = value; }
  void SetSettings(const sn::Config& c) override { live_ = c; }
  void SetSlavePath(const char16_t* path) override { sn::SetSlavePath(live_, path); }
  void PushConfig() override { saved_ = live_; }
  void PopConfig() override { live_ = saved_; }
  void SaveConfig() override {}
  void FlagSlaveModuleReload() override {}
  uint32_t GetSRate() const override { return 96000; }
  int GetChannels() const override { return 2; }
  bool IsOpen() const override { return true; }
  bool IsSSE2Supported() const override { return true; }
  bool IsCUDASupported() const override { return false; }
  bool ClaimBalloon() override { return true; }
  const char16_t* UseSlave(const char16_t*, SlaveCall, void*) override { return nullptr; }

 private:
  sn::Config live_, saved_;
};

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

bool Save(const QPixmap& p, const QString& path) {
  const bool ok = p.save(path);
  std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), p.width(), p.height());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ui-shots OUTPUT_DIR\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  bool ok = true;

  ShotHost host;
  sn::ui::qt::QtConfigView view;
  sn::ui::ConfigDlg dlg(host, view);
  dlg.Show();
  Settle(300);
  static const char* kNames[] = {"main", "surround", "headphones", "room", "system", "about"};
  for (int i = 0; i < view.Tabs()->count(); ++i) {
    view.Tabs()->setCurrentIndex(i);
    dlg.TimerTick();
    Settle(150);
    ok &= Save(view.grab(), QStringLiteral("%1/tab-%2-%3.png").arg(dir).arg(i + 1).arg(QString::fromLatin1(kNames[i])));
  }

  sn::ui::qt::AboutDlg about;
  about.show();
  Settle(300);
  ok &= Save(about.grab(), dir + QStringLiteral("/about-box.png"));
  about.hide();

  // The whole screen: the window on its Surround tab, the icon and its balloon.
  if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
    view.Tabs()->setCurrentIndex(1);
    dlg.DecoderInactiveCheck();
    Settle(1500);
    if (QScreen* screen = QGuiApplication::primaryScreen())
      ok &= Save(screen->grabWindow(0), dir + QStringLiteral("/screen.png"));
  }
  return ok ? 0 : 1;
}
