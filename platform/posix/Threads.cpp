// Threads on std::thread, with a join that can time out.
//
// Each thread owns a share of a small state with an eventfd that it signals
// after its entry returns; a join waits for that descriptor with its time-out
// and only then joins, which no longer blocks beyond the thread's last steps. The
// state is shared so that a handle closed on a running thread (detached) leaves
// the thread a valid descriptor to signal.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Platform.h"
#include "platform/posix/Wait.h"

namespace sn::platform {
namespace {

struct ThreadState {
  int doneFd = -1;  // readable once the entry has returned
  ~ThreadState() {
    if (doneFd >= 0) close(doneFd);
  }
};

}  // namespace

struct Thread {
  std::thread thread;
  std::shared_ptr<ThreadState> state;
  std::mutex joinMutex;  // guards `thread` and `joined`
  bool joined = false;
};

Thread* StartThread(ThreadProc proc, void* arg) {
  if (!proc) return nullptr;
  try {
    auto state = std::make_shared<ThreadState>();
    state->doneFd = eventfd(0, EFD_CLOEXEC);
    if (state->doneFd < 0) return nullptr;
    auto t = std::make_unique<Thread>();
    t->state = state;
    t->thread = std::thread([proc, arg, state] {
      try {
        proc(arg);
      } catch (...) {
        // An entry that throws ends its thread, not the process.
      }
      const uint64_t one = 1;
      while (write(state->doneFd, &one, sizeof one) < 0 && errno == EINTR) {
      }
    });
    return t.release();
  } catch (...) {
    // std::system_error when the system refuses a thread, std::bad_alloc.
    return nullptr;
  }
}

bool JoinThread(Thread* t, uint32_t timeoutMs) {
  if (!t) return false;
  if (detail::PollReadable(t->state->doneFd, detail::Deadline(timeoutMs)) != 1) return false;
  std::lock_guard<std::mutex> lock(t->joinMutex);
  if (!t->joined) {
    try {
      if (t->thread.joinable()) t->thread.join();
    } catch (...) {
      return false;
    }
    t->joined = true;
  }
  return true;
}

void CloseThread(Thread* t) {
  if (!t) return;
  {
    std::lock_guard<std::mutex> lock(t->joinMutex);
    if (!t->joined && t->thread.joinable()) {
      try {
        // A thread whose entry has returned is only leaving: join it. One still
        // running goes on detached and frees its state when it ends.
        if (detail::PollReadable(t->state->doneFd, detail::Deadline(0)) == 1 &&
            t->thread.get_id() != std::this_thread::get_id()) {
          t->thread.join();
        } else {
          t->thread.detach();
        }
      } catch (...) {
        try {
          if (t->thread.joinable()) t->thread.detach();
        } catch (...) {
        }
      }
    }
  }
  delete t;
}

}  // namespace sn::platform
