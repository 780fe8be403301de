// The module's windows under a real X server (Xvfb, started here): the Config
// entry shows the settings window, the About entry an about box beside it, and
// with a notification area running (trayer) the icon docks into it. Each test
// says that it skips when Xvfb or trayer is not installed.
//
// The module's toolkit stays bound to its display for the life of the process,
// so the program starts one X server and loads the module once; the server
// ends with the program.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "host/OutputModule.h"
#include "support/Paths.h"

namespace sn {
namespace {

using namespace std::chrono_literals;

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

// A child process, ended with SIGTERM (then SIGKILL) when this goes away.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }
  // Starts `args`; `keepFd` (if >= 0) becomes descriptor 3 in the child.
  bool Start(std::vector<std::string> args, int keepFd = -1) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (keepFd >= 0) dup2(keepFd, 3);
      const int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      execvp(argv[0], argv.data());
      _exit(127);
    }
    return true;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(20ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Waits (bounded) until `done` holds; true if it did.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

struct XWindow {
  xcb_window_t id;
  xcb_window_t parent;
  std::string name;
  bool viewable;
  bool embeddable;  // carries _XEMBED_INFO
};

class X11Module : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!OnPath("Xvfb")) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    xvfb_ = new Child;
    if (!xvfb_->Start({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
                      fds[1])) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char ch;
    while (poll(&p, 1, 20000) == 1 && read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }

  void SetUp() override {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: the X11 tests skip";
    ASSERT_FALSE(display_.empty()) << "Xvfb did not report its display";
    setenv("DISPLAY", display_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    x_ = xcb_connect(display_.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(x_), 0);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data->root;

    dir_ = test::MakeTempDir();
    setenv("SONAVEL_REGISTRY", (dir_ + "/user.reg").c_str(), 1);
    if (!module_) module_ = dlopen((test::BinDir() + "/out_sonavel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    auto get = reinterpret_cast<GetOutModuleFn>(dlsym(module_, "winampGetOutModule"));
    ASSERT_NE(get, nullptr);
    rec_ = get();
  }

  void TearDown() override {
    if (rec_ && inited_) rec_->Quit();
    if (x_) xcb_disconnect(x_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
    unsetenv("SONAVEL_REGISTRY");
  }

  void Init() {
    rec_->Init();
    inited_ = true;
  }
  void Quit() {
    rec_->Quit();
    inited_ = false;
  }

  xcb_atom_t Atom(const char* name) {
    auto* r = xcb_intern_atom_reply(x_, xcb_intern_atom(x_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(r);
    return a;
  }

  std::string Name(xcb_window_t w) {
    for (xcb_atom_t prop : {Atom("_NET_WM_NAME"), static_cast<xcb_atom_t>(XCB_ATOM_WM_NAME)}) {
      auto* r = xcb_get_property_reply(x_, xcb_get_property(x_, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
      std::string s;
      if (r) s.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
      free(r);
      if (!s.empty()) return s;
    }
    return {};
  }

  // Every window below `from`, depth first.
  void Collect(xcb_window_t from, std::vector<XWindow>& out) {
    auto* tree = xcb_query_tree_reply(x_, xcb_query_tree(x_, from), nullptr);
    if (!tree) return;
    const xcb_window_t* kids = xcb_query_tree_children(tree);
    const int n = xcb_query_tree_children_length(tree);
    const xcb_atom_t xembed = Atom("_XEMBED_INFO");
    for (int i = 0; i < n; ++i) {
      XWindow w{kids[i], from, Name(kids[i]), false, false};
      if (auto* a = xcb_get_window_attributes_reply(x_, xcb_get_window_attributes(x_, kids[i]), nullptr)) {
        w.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
        free(a);
      }
      if (auto* p = xcb_get_property_reply(x_, xcb_get_property(x_, 0, kids[i], xembed, XCB_GET_PROPERTY_TYPE_ANY, 0, 2),
                                           nullptr)) {
        w.embeddable = p->type != XCB_ATOM_NONE;
        free(p);
      }
      out.push_back(w);
      Collect(kids[i], out);
    }
    free(tree);
  }

  std::vector<XWindow> Windows() {
    std::vector<XWindow> all;
    Collect(root_, all);
    return all;
  }

  // Viewable top-level windows titled `title`.
  int Shown(const std::string& title) {
    int n = 0;
    for (const XWindow& w : Windows()) n += w.parent == root_ && w.viewable && w.name == title;
    return n;
  }

  // Icons docked into a notification area: embeddable windows below another client.
  int DockedIcons() {
    int n = 0;
    for (const XWindow& w : Windows()) n += w.embeddable && w.parent != root_;
    return n;
  }

  void Close(const std::string& title) {
    const xcb_atom_t protocols = Atom("WM_PROTOCOLS"), del = Atom("WM_DELETE_WINDOW");
    for (const XWindow& w : Windows()) {
      if (w.parent != root_ || w.name != title) continue;
      xcb_client_message_event_t ev{};
      ev.response_type = XCB_CLIENT_MESSAGE;
      ev.format = 32;
      ev.window = w.id;
      ev.type = protocols;
      ev.data.data32[0] = del;
      ev.data.data32[1] = XCB_CURRENT_TIME;
      xcb_send_event(x_, 0, w.id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    }
    xcb_flush(x_);
  }

  // The X server and the module serve every test of the program; both stay
  // until the program ends.
  static inline Child* xvfb_ = nullptr;
  static inline std::string display_;
  static inline void* module_ = nullptr;
  Child tray_;
  std::string dir_;
  xcb_connection_t* x_ = nullptr;
  xcb_window_t root_ = 0;
  OutputModuleRecord* rec_ = nullptr;
  bool inited_ = false;
};

TEST_F(X11Module, ConfigEntryShowsTheSettingsWindowOnce) {
  Init();
  EXPECT_EQ(Shown("Sonavel Configuration"), 0) << "the window is created hidden";
  rec_->Config(nullptr);
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
  rec_->Config(nullptr);  // a second time only brings it to the front
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Shown("Sonavel Configuration"), 1);
  // Its own close button hides it; the entry shows it again.
  Close("Sonavel Configuration");
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 0; }));
  rec_->Config(nullptr);
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
  Quit();
  EXPECT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 0; }));
  // A second life of the plug-in in the same process gets a new window.
  Init();
  rec_->Config(nullptr);
  EXPECT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
}

TEST_F(X11Module, AboutEntryShowsAnAboutBoxBesideTheWindowAndReturnsAsItCloses) {
  Init();
  rec_->Config(nullptr);
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
  auto about = std::async(std::launch::async, [this] { rec_->About(nullptr); });
  ASSERT_TRUE(WaitFor([&] { return Shown("About") == 1; }));
  EXPECT_EQ(about.wait_for(0s), std::future_status::timeout) << "About returns when the box closes";
  EXPECT_EQ(Shown("Sonavel Configuration"), 1);
  Close("About");
  ASSERT_EQ(about.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(WaitFor([&] { return Shown("About") == 0; }));
  EXPECT_EQ(Shown("Sonavel Configuration"), 1);
}

TEST_F(X11Module, AboutBoxOutlivesTheSessionAndWorksWithoutInit) {
  Init();
  rec_->Config(nullptr);
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
  auto about = std::async(std::launch::async, [this] { rec_->About(nullptr); });
  ASSERT_TRUE(WaitFor([&] { return Shown("About") == 1; }));
  Quit();
  EXPECT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 0; }));
  EXPECT_EQ(Shown("About"), 1) << "the About box is the caller's, not the settings window's";
  Close("About");
  ASSERT_EQ(about.wait_for(20s), std::future_status::ready);
  ASSERT_TRUE(WaitFor([&] { return Shown("About") == 0; }));
  // Without Init the entry still shows the box.
  auto again = std::async(std::launch::async, [this] { rec_->About(nullptr); });
  ASSERT_TRUE(WaitFor([&] { return Shown("About") == 1; }));
  Close("About");
  EXPECT_EQ(again.wait_for(20s), std::future_status::ready);
}

TEST_F(X11Module, IconDocksIntoTheNotificationAreaWhenShowIconIsSet) {
  if (!OnPath("trayer")) GTEST_SKIP() << "trayer (a notification area) is not installed: the icon test skips";
  ASSERT_TRUE(tray_.Start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                           "--height", "24", "--SetDockType", "false"}));
  const xcb_atom_t selection = Atom("_NET_SYSTEM_TRAY_S0");
  ASSERT_TRUE(WaitFor([&] {
    auto* r = xcb_get_selection_owner_reply(x_, xcb_get_selection_owner(x_, selection), nullptr);
    const bool owned = r && r->owner != XCB_NONE;
    free(r);
    return owned;
  })) << "trayer did not take the notification area";

  Init();
  EXPECT_TRUE(WaitFor([&] { return DockedIcons() == 1; }));
  Quit();
  EXPECT_TRUE(WaitFor([&] { return DockedIcons() == 0; })) << "the icon goes as the user-interface thread ends";

  Config c = DefaultConfig();
  c.ShowIcon = 0;
  ASSERT_EQ(StoreConfig(c), 0);
  Init();
  rec_->Config(nullptr);  // the window is filled after the icon's visibility was decided
  ASSERT_TRUE(WaitFor([&] { return Shown("Sonavel Configuration") == 1; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(DockedIcons(), 0);
}

}  // namespace
}  // namespace sn
