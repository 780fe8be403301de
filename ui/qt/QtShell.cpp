// The Qt shell of the user-interface thread: the application object (created
// here, on this thread, when the process has none), the settings window, and
// the event loop that watches the host's events through their descriptors.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/Shell.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/QtConfigView.h"

namespace sn::ui {

namespace {

// True when Qt can load the platform plug-in `name`: a missing plug-in would
// make the application object end the process.
bool HasPlatformPlugin(const char* name) {
  const QString file = QStringLiteral("libq%1.so").arg(QString::fromLatin1(name));
  QStringList dirs;
  if (const char* env = std::getenv("QT_PLUGIN_PATH"))
    dirs = QString::fromLocal8Bit(env).split(QLatin1Char(':'), Qt::SkipEmptyParts);
  dirs << QLibraryInfo::path(QLibraryInfo::PluginsPath);
  for (const QString& d : dirs)
    if (QFileInfo::exists(d + QStringLiteral("/platforms/") + file)) return true;
  return false;
}

// A connection to the X display, held until the application object has made
// its own: an X server resets when its last client leaves and refuses new
// connections meanwhile, and a refused connection would make Qt end the process.
struct DisplayHold {
  xcb_connection_t* c = nullptr;
  DisplayHold() = default;
  DisplayHold(const DisplayHold&) = delete;
  DisplayHold& operator=(const DisplayHold&) = delete;
  ~DisplayHold() {
    if (c) xcb_disconnect(c);
  }
};

// The platform to start Qt on, or null when no window can be shown: the X
// display must accept a connection, which `hold` keeps. An explicit
// QT_QPA_PLATFORM of "offscreen" (tests, screenshots) is honoured.
const char* ReachablePlatform(DisplayHold& hold) {
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  if (qpa && std::strcmp(qpa, "offscreen") == 0) return HasPlatformPlugin("offscreen") ? "offscreen" : nullptr;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display || !HasPlatformPlugin("xcb")) return nullptr;
  hold.c = xcb_connect(display, nullptr);
  return hold.c && xcb_connection_has_error(hold.c) == 0 ? "xcb" : nullptr;
}

class QtShell final : public Shell {
 public:
  explicit QtShell(const char* platform) : args_{"out_sonavel", "-platform", platform} {
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    argc_ = static_cast<int>(args_.size());
    // The application object sets the process's C locale from the
    // environment; the player's own locale is put back.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    app_ = std::make_unique<QApplication>(argc_, argv_.data());
    std::setlocale(LC_ALL, locale.c_str());
    app_->setQuitOnLastWindowClosed(false);
    view_ = std::make_unique<qt::QtConfigView>();
  }

  ~QtShell() override {
    // Boxes still open or still queued will not be shown any more.
    {
      std::lock_guard<std::mutex> lock(aboutLock_);
      for (auto& r : about_) r->Finish();
      about_.clear();
    }
    notifiers_.clear();
    for (QPointer<qt::AboutDlg>& box : boxes_) delete box.data();
    view_.reset();
    QCoreApplication::processEvents();
    app_.reset();
  }

  ConfigView& View() override { return *view_; }

  void Run(platform::Event* const* events, uint32_t count, const std::function<void()>& wake) override {
    for (uint32_t i = 0; i < count; ++i) {
      const int fd = platform::EventFd(events[i]);
      if (fd < 0) continue;
      auto n = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      QObject::connect(n.get(), &QSocketNotifier::activated, n.get(), [wake] { wake(); });
      notifiers_.push_back(std::move(n));
    }
    QTimer::singleShot(0, view_.get(), [wake] { wake(); });
    QApplication::exec();
  }

  void Stop() override { QCoreApplication::exit(0); }

  void RequestAbout(std::shared_ptr<AboutRequest> request) override {
    {
      std::lock_guard<std::mutex> lock(aboutLock_);
      about_.push_back(request);
    }
    QMetaObject::invokeMethod(view_.get(), [this, request] { OpenAbout(request); }, Qt::QueuedConnection);
  }

 private:
  void OpenAbout(const std::shared_ptr<AboutRequest>& request) {
    auto* box = new qt::AboutDlg;
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QObject::destroyed, [this, request] {
      request->Finish();
      std::lock_guard<std::mutex> lock(aboutLock_);
      std::erase(about_, request);
    });
    boxes_.emplace_back(box);
    box->show();
    box->raise();
    box->activateWindow();
  }

  std::vector<std::string> args_;
  std::vector<char*> argv_;
  int argc_ = 0;
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<qt::QtConfigView> view_;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
  std::vector<QPointer<qt::AboutDlg>> boxes_;
  std::mutex aboutLock_;
  std::vector<std::shared_ptr<AboutRequest>> about_;
};

}  // namespace

std::unique_ptr<Shell> OpenShell() {
  // A toolkit instance that already exists belongs to the player and to its
  // thread: widgets cannot live on this one.
  if (QCoreApplication::instance()) return nullptr;
  DisplayHold hold;
  const char* platform = ReachablePlatform(hold);
  if (!platform) return nullptr;
  return std::make_unique<QtShell>(platform);
}

bool ShowAboutHere() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || app->thread() != QThread::currentThread()) return false;
  qt::AboutDlg box;
  box.exec();
  return true;
}

}  // namespace sn::ui
