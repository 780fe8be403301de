// Events and threads of the platform layer: auto-reset semantics, the lowest
// signalled index winning a multiple wait, time-outs, the signal-and-wait
// hand-off between two threads, user-interface input (a descriptor on POSIX,
// the thread's message queue on Win32), and joins with a time-out.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/Platform.h"

namespace sn::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Owns a run of events.
class Events {
 public:
  explicit Events(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      e_.push_back(NewEvent());
      EXPECT_NE(e_.back(), nullptr);
    }
  }
  ~Events() {
    for (Event* e : e_) DestroyEvent(e);
  }
  Event* operator[](size_t i) const { return e_[i]; }
  Event* const* data() const { return e_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(e_.size()); }

 private:
  std::vector<Event*> e_;
};

TEST(PlatformEvent, AutoResetConsumesOneSignalAndIgnoresRepeats) {
  Events ev(1);
  EXPECT_EQ(WaitEvent(ev[0], 0), kWaitTimeout) << "events start non-signalled";
  SignalEvent(ev[0]);
  EXPECT_EQ(WaitEvent(ev[0], 0), 0u);
  EXPECT_EQ(WaitEvent(ev[0], 0), kWaitTimeout) << "a wait resets the event";
  SignalEvent(ev[0]);
  SignalEvent(ev[0]);
  EXPECT_EQ(WaitEvent(ev[0], 0), 0u);
  EXPECT_EQ(WaitEvent(ev[0], 0), kWaitTimeout) << "signalling a signalled event has no further effect";
}

// Every subset of five events: repeated waits must hand the signalled indices
// out in increasing order, one per wait, and then time out.
TEST(PlatformEvent, WaitAnyLowestIndexWinsAndOnlyItIsConsumed) {
  Events ev(5);
  for (uint32_t mask = 0; mask < 32; ++mask) {
    for (uint32_t i = 0; i < 5; ++i) {
      if (mask & (1u << i)) SignalEvent(ev[i]);
    }
    for (uint32_t i = 0; i < 5; ++i) {
      if (mask & (1u << i)) {
        EXPECT_EQ(WaitAny(ev.data(), 5, 0), i) << "mask " << mask;
      }
    }
    EXPECT_EQ(WaitAny(ev.data(), 5, 0), kWaitTimeout) << "mask " << mask;
  }
}

TEST(PlatformEvent, TimeOutsEndTheWaitNoEarlierThanAsked) {
  Events ev(3);
  struct Case {
    const char* what;
    uint32_t (*wait)(const Events&, uint32_t);
  };
  const Case cases[] = {
      {"WaitEvent", [](const Events& e, uint32_t ms) { return WaitEvent(e[0], ms); }},
      {"WaitAny", [](const Events& e, uint32_t ms) { return WaitAny(e.data(), e.size(), ms); }},
      {"SignalAndWait", [](const Events& e, uint32_t ms) { return SignalAndWait(e[1], e[2], ms); }},
  };
  for (const Case& c : cases) {
    const auto start = Clock::now();
    EXPECT_EQ(c.wait(ev, 30), kWaitTimeout) << c.what;
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(30)) << c.what;
    EXPECT_LT(elapsed, std::chrono::seconds(10)) << c.what;
    // Clear what SignalAndWait signalled so that the next case starts clean.
    WaitEvent(ev[1], 0);
  }
}

TEST(PlatformEvent, BadArgumentsFail) {
  Events ev(2);
  Event* withNull[2] = {ev[0], nullptr};
  EXPECT_EQ(WaitAny(withNull, 2, 0), kWaitFailed);
  EXPECT_EQ(WaitAny(ev.data(), 0, 0), kWaitFailed);
  EXPECT_EQ(WaitAny(nullptr, 1, 0), kWaitFailed);
  EXPECT_EQ(WaitEvent(nullptr, 0), kWaitFailed);
  EXPECT_EQ(SignalAndWait(nullptr, ev[1], 0), kWaitFailed);
  EXPECT_EQ(SignalAndWait(ev[0], nullptr, 0), kWaitFailed);
  EXPECT_EQ(WaitEvent(ev[0], 0), kWaitTimeout) << "a refused SignalAndWait signals nothing";
  std::vector<Event*> tooMany(kMaxWaitEvents + 1, ev[0]);
  EXPECT_EQ(WaitAny(tooMany.data(), kMaxWaitEvents + 1, 0), kWaitFailed);
  SignalEvent(nullptr);
  DestroyEvent(nullptr);
}

#if !defined(_WIN32)

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(PlatformEvent, EventFdIsReadableExactlyWhileSignalled) {
  Events ev(1);
  const int fd = EventFd(ev[0]);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Readable(fd));
  SignalEvent(ev[0]);
  EXPECT_TRUE(Readable(fd));
  EXPECT_TRUE(Readable(fd)) << "watching the descriptor consumes nothing";
  EXPECT_EQ(WaitEvent(ev[0], 0), 0u);
  EXPECT_FALSE(Readable(fd));
  EXPECT_EQ(EventFd(nullptr), -1);
}

// A closed descriptor must fail at once, not spin or block.
TEST(PlatformEvent, ClosedDescriptorFails) {
  Events ev(2);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(WaitAny(ev.data(), 2, kInfinite, UiInput{fds[0]}), kWaitFailed);
}

// Signalled events win over the extra descriptor; the descriptor alone ends
// the wait with `count`, and nothing is read from it.
TEST(PlatformEvent, ExtraFdEndsTheWaitWithoutBeingConsumed) {
  Events ev(2);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, UiInput{fds[0]}), kWaitTimeout);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  SignalEvent(ev[1]);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, UiInput{fds[0]}), 1u);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, UiInput{fds[0]}), 2u);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, UiInput{fds[0]}), 2u) << "the descriptor is still readable";
  char c = 0;
  EXPECT_EQ(read(fds[0], &c, 1), 1);
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(WaitAny(ev.data(), 0, 0, UiInput{fds[0]}), kWaitTimeout) << "only the descriptor may be watched";
  close(fds[0]);
  close(fds[1]);
}

struct Writer {
  Event* start;
  int fd;
};

// A blocked wait wakes when the descriptor becomes readable from another thread.
TEST(PlatformEvent, ExtraFdWakesABlockedWait) {
  Events ev(2);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Writer w{ev[1], fds[1]};
  Thread* t = StartThread(
      [](void* arg) -> uint32_t {
        auto* w = static_cast<Writer*>(arg);
        return WaitEvent(w->start, 5000) == 0 && write(w->fd, "y", 1) == 1 ? 0 : 1;
      },
      &w);
  ASSERT_NE(t, nullptr);
  SignalEvent(ev[1]);
  EXPECT_EQ(WaitAny(ev.data(), 1, 10000, UiInput{fds[0]}), 1u);
  EXPECT_TRUE(JoinThread(t, 10000));
  CloseThread(t);
  close(fds[0]);
  close(fds[1]);
}

#else

// The thread's message queue as the user-interface input: signalled events win
// over a pending message, a message alone ends the wait with `count` and stays
// in the queue, and only dispatching takes it.
TEST(PlatformEvent, MessagesEndTheWaitWithoutBeingConsumed) {
  Events ev(2);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, ThreadUiInput()), kWaitTimeout);
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 7, 0));
  SignalEvent(ev[1]);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, ThreadUiInput()), 1u);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, ThreadUiInput()), 2u);
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, ThreadUiInput()), 2u) << "the message is still pending";
  EXPECT_EQ(WaitAny(ev.data(), 0, 0, ThreadUiInput()), 0u) << "only the queue may be watched";
  DispatchUiInput();
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "dispatching empties the queue";
  EXPECT_EQ(WaitAny(ev.data(), 2, 0, ThreadUiInput()), kWaitTimeout);
  EXPECT_EQ(WaitAny(ev.data(), 0, 0, UiInput{}), kWaitFailed) << "nothing to wait for";
  std::vector<Event*> full(kMaxWaitEvents, ev[0]);
  EXPECT_EQ(WaitAny(full.data(), kMaxWaitEvents, 0, ThreadUiInput()), kWaitFailed)
      << "the queue takes one of the system's slots";
}

struct Poster {
  Event* start;
  DWORD thread;
};

// A blocked wait wakes when another thread posts to the waiting thread, and a
// window's message is dispatched to its procedure.
TEST(PlatformEvent, APostedMessageWakesABlockedWait) {
  Events ev(2);
  Poster p{ev[1], GetCurrentThreadId()};
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread has a queue from here on
  Thread* t = StartThread(
      [](void* arg) -> uint32_t {
        auto* p = static_cast<Poster*>(arg);
        return WaitEvent(p->start, 5000) == 0 && PostThreadMessageW(p->thread, WM_APP, 1, 2) ? 0 : 1;
      },
      &p);
  ASSERT_NE(t, nullptr);
  SignalEvent(ev[1]);
  EXPECT_EQ(WaitAny(ev.data(), 1, 10000, ThreadUiInput()), 1u);
  EXPECT_TRUE(JoinThread(t, 10000));
  CloseThread(t);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
  EXPECT_EQ(msg.wParam, 1u);
}

#endif

// The host's hand-off: the requester signals and waits for the acknowledgement
// in one step, many times over. A lost acknowledgement shows as a time-out.
struct Handshake {
  Event* request;
  Event* ack;
  Event* quit;
  int served = 0;  // written by the server only, read after the join
};

uint32_t Server(void* arg) {
  auto* h = static_cast<Handshake*>(arg);
  Event* const waits[2] = {h->quit, h->request};
  for (;;) {
    const uint32_t r = WaitAny(waits, 2, 10000);
    if (r == 0) break;
    if (r != 1) return 1;
    ++h->served;
    SignalEvent(h->ack);
  }
  SignalEvent(h->ack);
  return 0;
}

TEST(PlatformEvent, SignalAndWaitHandshakeLosesNoAcknowledgement) {
  Events ev(3);
  Handshake h{ev[0], ev[1], ev[2]};
  Thread* t = StartThread(Server, &h);
  ASSERT_NE(t, nullptr);
  constexpr int kRounds = 20000;
  int acknowledged = 0;
  for (int i = 0; i < kRounds; ++i) {
    if (SignalAndWait(h.request, h.ack, 10000) != 0) break;
    ++acknowledged;
  }
  EXPECT_EQ(acknowledged, kRounds);
  EXPECT_EQ(SignalAndWait(h.quit, h.ack, 10000), 0u);
  ASSERT_TRUE(JoinThread(t, 10000));
  CloseThread(t);
  EXPECT_EQ(h.served, kRounds);
}

// Several threads wait on one event; each signal releases exactly one of them.
TEST(PlatformEvent, EachSignalReleasesOneWaiter) {
  Events ev(2);
  struct Shared {
    Event* go;
    Event* done;
    std::atomic<int> released{0};
  } s{ev[0], ev[1]};
  constexpr int kWaiters = 4;
  Thread* threads[kWaiters];
  for (Thread*& t : threads) {
    t = StartThread(
        [](void* arg) -> uint32_t {
          auto* s = static_cast<Shared*>(arg);
          if (WaitEvent(s->go, 10000) != 0) return 1;
          s->released.fetch_add(1);
          SignalEvent(s->done);
          return 0;
        },
        &s);
    ASSERT_NE(t, nullptr);
  }
  // A signal that released two waiters would leave the last signal without a
  // waiter: `go` would stay signalled and one `done` would never come.
  for (int i = 1; i <= kWaiters; ++i) {
    SignalEvent(s.go);
    ASSERT_EQ(WaitEvent(s.done, 10000), 0u);
  }
  for (Thread* t : threads) {
    EXPECT_TRUE(JoinThread(t, 10000));
    CloseThread(t);
  }
  EXPECT_EQ(s.released.load(), kWaiters);
  EXPECT_EQ(WaitEvent(s.go, 0), kWaitTimeout) << "every signal was consumed by one waiter";
}

struct Gate {
  Event* open;
  Event* finished;
  std::atomic<bool> ran{false};
};

uint32_t WaitAtGate(void* arg) {
  auto* g = static_cast<Gate*>(arg);
  g->ran = true;
  const uint32_t r = WaitEvent(g->open, 10000);
  if (g->finished) SignalEvent(g->finished);
  return r;
}

TEST(PlatformThread, RunsTheEntryWithItsArgument) {
  Events ev(1);
  Gate g{ev[0], nullptr};
  SignalEvent(g.open);
  Thread* t = StartThread(WaitAtGate, &g);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(JoinThread(t, 10000));
  EXPECT_TRUE(JoinThread(t, 0)) << "a joined thread stays joined";
  EXPECT_TRUE(g.ran.load());
  CloseThread(t);
}

TEST(PlatformThread, JoinTimesOutWhileTheThreadRuns) {
  Events ev(1);
  Gate g{ev[0], nullptr};
  Thread* t = StartThread(WaitAtGate, &g);
  ASSERT_NE(t, nullptr);
  const auto start = Clock::now();
  EXPECT_FALSE(JoinThread(t, 30));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_FALSE(JoinThread(t, 0));
  SignalEvent(g.open);
  EXPECT_TRUE(JoinThread(t, 10000));
  CloseThread(t);
}

// Closing the handle of a running thread detaches it; the thread goes on and
// ends normally afterwards.
TEST(PlatformThread, CloseDetachesARunningThread) {
  Events ev(2);
  Gate g{ev[0], ev[1]};
  Thread* t = StartThread(WaitAtGate, &g);
  ASSERT_NE(t, nullptr);
  CloseThread(t);
  SignalEvent(g.open);
  EXPECT_EQ(WaitEvent(g.finished, 10000), 0u);
}

TEST(PlatformThread, NullArgumentsAreRefused) {
  EXPECT_EQ(StartThread(nullptr, nullptr), nullptr);
  EXPECT_FALSE(JoinThread(nullptr, 0));
  CloseThread(nullptr);
}

}  // namespace
}  // namespace sn::platform
