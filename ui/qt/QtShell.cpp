// The Qt toolkit of the user interface: one thread per process that owns the
// application object and runs its event loop, and on it one session of the
// settings window for each life of the plug-in's user-interface thread. The
// host's events are watched through their descriptors (socket notifiers).
#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/Shell.h"
#include "ui/UiThread.h"
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

// Qt's own notes (missing runtime directory, features a platform lacks) are not
// the player's business; its errors go to standard error as one line.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "Sonavel: Qt: %s\n", qPrintable(text));
}

// One life of the user-interface thread on the toolkit's thread.
struct SessionRec {
  SettingsHost* host = nullptr;
  platform::Event* const* events = nullptr;
  platform::Event* done = nullptr;  // signalled once the session's windows are gone
  std::unique_ptr<qt::QtConfigView> view;
  std::unique_ptr<UiSession> session;
  bool ending = false;
};

class QtToolkit final : public Toolkit {
 public:
  // Starts the toolkit's thread and waits (bounded) until its application
  // object exists; null when it could not start.
  static std::unique_ptr<QtToolkit> Start(const char* platform) {
    std::unique_ptr<QtToolkit> t(new QtToolkit(platform));
    if (!t->ready_ || !t->ended_ || !t->parkedAck_ || !t->never_) return nullptr;
    t->thread_ = std::thread([p = t.get()] { p->Main(); });
    if (platform::WaitEvent(t->ready_, 10000) != 0 || !t->running_.load()) {
      t->Stop();
      return nullptr;
    }
    return t;
  }

  ~QtToolkit() override {
    Stop();
    platform::DestroyEvent(ready_);
    platform::DestroyEvent(ended_);
    platform::DestroyEvent(parkedAck_);
    platform::DestroyEvent(never_);
  }

  bool RunSession(SettingsHost& host, platform::Event* const* events) override {
    auto rec = std::make_shared<SessionRec>();
    rec->host = &host;
    rec->events = events;
    rec->done = platform::NewEvent();
    if (!rec->done) return false;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!running_.load()) {
        platform::DestroyEvent(rec->done);
        return false;
      }
      sessions_.push_back(rec);
      QMetaObject::invokeMethod(context_, [this, rec] { StartSession(rec); }, Qt::QueuedConnection);
    }
    // The toolkit's thread ends the session after its quit event, or as the
    // toolkit itself ends; a toolkit parked for the process's exit never will.
    while (platform::WaitEvent(rec->done, 200) != 0) {
      if (parked_.load()) break;
    }
    {
      std::lock_guard<std::mutex> lock(lock_);
      std::erase(sessions_, rec);
    }
    platform::DestroyEvent(rec->done);
    return true;
  }

  void RequestAbout(std::shared_ptr<AboutRequest> request) override {
    std::lock_guard<std::mutex> lock(lock_);
    if (!running_.load()) {
      request->Finish();
      return;
    }
    about_.push_back(request);
    QMetaObject::invokeMethod(context_, [this, request] { OpenAbout(request); }, Qt::QueuedConnection);
  }

  bool OnToolkitThread() const override { return std::this_thread::get_id() == threadId_; }

  // The process is exiting: Qt's own static objects are about to go, so the
  // toolkit's thread must stop touching Qt first. It is parked for good in a
  // wait of its own; the application object is left as it is, as in any Qt
  // program that exits from inside its event loop. Bounded.
  void Park() {
    if (parked_.exchange(true) || OnToolkitThread()) return;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!context_) return;
      QMetaObject::invokeMethod(
          context_,
          [this] {
            platform::SignalEvent(parkedAck_);
            platform::WaitEvent(never_, platform::kInfinite);
          },
          Qt::QueuedConnection);
    }
    platform::WaitEvent(parkedAck_, 2000);
  }

 private:
  explicit QtToolkit(const char* platform)
      : platform_(platform),
        ready_(platform::NewEvent()),
        ended_(platform::NewEvent()),
        parkedAck_(platform::NewEvent()),
        never_(platform::NewEvent()) {}

  // Exit handlers run in the reverse order of their registration, so the one
  // that parks this thread is registered again after everything that may have
  // made new static objects of Qt's (the application, a session, an About box).
  static void RegisterPark();

  void Main() {
    threadId_ = std::this_thread::get_id();
    {
      std::vector<std::string> args = {"out_sonavel", "-platform", platform_};
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      int argc = static_cast<int>(args.size());
      const QtMessageHandler previous = qInstallMessageHandler(QuietMessages);
      // The application object sets the process's C locale from the
      // environment; the player's own locale is put back.
      const std::string locale = std::setlocale(LC_ALL, nullptr);
      auto app = std::make_unique<QApplication>(argc, argv.data());
      std::setlocale(LC_ALL, locale.c_str());
      app->setQuitOnLastWindowClosed(false);
      {
        QObject context;
        {
          std::lock_guard<std::mutex> lock(lock_);
          context_ = &context;
          running_.store(true);
        }
        RegisterPark();
        platform::SignalEvent(ready_);
        QApplication::exec();
        {
          std::lock_guard<std::mutex> lock(lock_);
          running_.store(false);
          context_ = nullptr;
        }
        EndAll();
      }
      app.reset();
      qInstallMessageHandler(previous);
    }
    platform::SignalEvent(ended_);
  }

  // Ends the loop and waits (bounded) for the thread.
  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (context_) QMetaObject::invokeMethod(context_, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
    if (platform::WaitEvent(ended_, 5000) == 0) thread_.join();
    else thread_.detach();
  }

  void StartSession(const std::shared_ptr<SessionRec>& rec) {
    rec->view = std::make_unique<qt::QtConfigView>();
    rec->session = std::make_unique<UiSession>(*rec->host, *rec->view, rec->events);
    std::weak_ptr<SessionRec> weak = rec;
    for (uint32_t i = 0; i < kUiEventCount; ++i) {
      const int fd = platform::EventFd(rec->events[i]);
      if (fd < 0 || i == kEvQuitAck) continue;
      auto* n = new QSocketNotifier(fd, QSocketNotifier::Read, rec->view.get());
      QObject::connect(n, &QSocketNotifier::activated, rec->view.get(), [this, weak] { Serve(weak.lock()); });
    }
    // Events signalled before the notifiers existed.
    QTimer::singleShot(0, rec->view.get(), [this, weak] { Serve(weak.lock()); });
    RegisterPark();
  }

  void Serve(const std::shared_ptr<SessionRec>& rec) {
    if (!rec || !rec->session || rec->ending) return;
    if (rec->session->Serve()) EndSession(rec);
  }

  // The quit event was consumed: boxes the session still shows are closed, and
  // the session goes once no nested loop of its boxes is left on the stack.
  void EndSession(const std::shared_ptr<SessionRec>& rec) {
    rec->ending = true;
    for (QSocketNotifier* n : rec->view->findChildren<QSocketNotifier*>()) n->setEnabled(false);
    for (QDialog* d : rec->view->findChildren<QDialog*>())
      if (d->isVisible()) d->reject();
    Teardown(rec);
    RegisterPark();
  }

  void Teardown(const std::shared_ptr<SessionRec>& rec) {
    if (QThread::currentThread()->loopLevel() > 1) {
      QTimer::singleShot(10, context_, [this, rec] { Teardown(rec); });
      return;
    }
    if (rec->session) rec->session->Dlg().HideNotifyIcon();
    rec->session.reset();
    rec->view.reset();
    {
      std::lock_guard<std::mutex> lock(lock_);
      std::erase(sessions_, rec);
    }
    platform::SignalEvent(rec->done);
  }

  // As the toolkit ends: every session and every About box goes.
  void EndAll() {
    std::vector<std::shared_ptr<SessionRec>> sessions;
    std::vector<std::shared_ptr<AboutRequest>> about;
    {
      std::lock_guard<std::mutex> lock(lock_);
      sessions.swap(sessions_);
      about.swap(about_);
    }
    for (QPointer<qt::AboutDlg>& box : boxes_) delete box.data();
    boxes_.clear();
    for (auto& r : about) r->Finish();
    for (auto& rec : sessions) {
      if (rec->session) rec->session->Dlg().HideNotifyIcon();
      rec->session.reset();
      rec->view.reset();
      platform::SignalEvent(rec->done);
    }
    QCoreApplication::processEvents();
  }

  void OpenAbout(const std::shared_ptr<AboutRequest>& request) {
    auto* box = new qt::AboutDlg;
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QObject::destroyed, [this, request] {
      request->Finish();
      std::lock_guard<std::mutex> lock(lock_);
      std::erase(about_, request);
    });
    std::erase_if(boxes_, [](const QPointer<qt::AboutDlg>& b) { return b.isNull(); });
    boxes_.emplace_back(box);
    box->show();
    box->raise();
    box->activateWindow();
    RegisterPark();
  }

  std::string platform_;
  platform::Event* ready_;
  platform::Event* ended_;
  platform::Event* parkedAck_;
  platform::Event* never_;  // never signalled: the parked thread's wait
  std::atomic<bool> parked_{false};
  std::thread thread_;
  std::thread::id threadId_;
  std::atomic<bool> running_{false};
  std::mutex lock_;  // guards context_, running_ changes, sessions_ and about_
  QObject* context_ = nullptr;
  std::vector<std::shared_ptr<SessionRec>> sessions_;
  std::vector<std::shared_ptr<AboutRequest>> about_;
  std::vector<QPointer<qt::AboutDlg>> boxes_;  // toolkit's thread only
};

// The one toolkit of the process. It is never destroyed: the module stays
// mapped (it is linked not to unload), and at the process's exit Qt's own
// static objects are destroyed before any of ours that was made earlier, so an
// application object destroyed then would use them after their end. The
// toolkit's thread is parked instead (ParkAtExit).
struct ToolkitHolder {
  std::mutex lock;
  std::unique_ptr<QtToolkit> toolkit;
};

ToolkitHolder& Holder() {
  static ToolkitHolder* holder = new ToolkitHolder;
  return *holder;
}

void ParkAtExit() {
  // The holder is never destroyed, and its toolkit only with it.
  if (QtToolkit* t = Holder().toolkit.get()) t->Park();
}

void QtToolkit::RegisterPark() { std::atexit(ParkAtExit); }

}  // namespace

Toolkit* AcquireToolkit() {
  ToolkitHolder& h = Holder();
  std::lock_guard<std::mutex> lock(h.lock);
  if (h.toolkit) return h.toolkit.get();
  // A toolkit instance that exists already belongs to the player and to its
  // thread: widgets cannot live on another one.
  if (QCoreApplication::instance()) return nullptr;
  DisplayHold hold;
  const char* platform = ReachablePlatform(hold);
  if (!platform) return nullptr;
  h.toolkit = QtToolkit::Start(platform);
  return h.toolkit.get();
}

bool ShowAboutHere() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || app->thread() != QThread::currentThread()) return false;
  qt::AboutDlg box;
  box.exec();
  return true;
}

}  // namespace sn::ui
