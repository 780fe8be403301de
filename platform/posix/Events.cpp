// Auto-reset events on Linux eventfds.
//
// An event is an eventfd in non-blocking mode: a signal adds one to its counter,
// and a successful read returns the whole counter and sets it to zero, which is
// exactly "consume the signal and reset". Signalling twice before anyone waits
// leaves the counter at two, and the one read still consumes both: a signalled
// event stays signalled once. Waiters block in poll() on the descriptors and then
// race to read; the reader that wins owns the signal, the others go back to poll
// with the time they have left.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/Platform.h"
#include "platform/posix/Wait.h"

namespace sn::platform {

struct Event {
  int fd;
};

namespace {

bool TryConsume(Event* e) {
  uint64_t value;
  for (;;) {
    if (read(e->fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
    if (errno != EINTR) return false;
  }
}

// The first signalled event of the run, consumed, or -1.
int ConsumeLowest(Event* const* events, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (TryConsume(events[i])) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

Event* NewEvent() {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  Event* e = new (std::nothrow) Event{fd};
  if (!e) close(fd);
  return e;
}

void DestroyEvent(Event* e) {
  if (!e) return;
  close(e->fd);
  delete e;
}

void SignalEvent(Event* e) {
  if (!e) return;
  const uint64_t one = 1;
  // Only a counter at its maximum refuses the write, and that event is signalled.
  while (write(e->fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

uint32_t WaitEvent(Event* e, uint32_t timeoutMs) { return WaitAny(&e, 1, timeoutMs); }

uint32_t WaitAny(Event* const* events, uint32_t count, uint32_t timeoutMs, UiInput input) {
  const int extraFd = input.fd;
  if (!events && count > 0) return kWaitFailed;
  if (count > kMaxWaitEvents || (count == 0 && extraFd < 0)) return kWaitFailed;
  pollfd fds[kMaxWaitEvents + 1];
  for (uint32_t i = 0; i < count; ++i) {
    if (!events[i]) return kWaitFailed;
    fds[i] = pollfd{events[i]->fd, POLLIN, 0};
  }
  const nfds_t n = count + (extraFd >= 0 ? 1 : 0);
  if (extraFd >= 0) fds[count] = pollfd{extraFd, POLLIN, 0};

  const detail::Deadline deadline(timeoutMs);
  for (;;) {
    // Signalled events win over the extra descriptor, and the lowest index over
    // the others; this also serves a time-out of zero.
    const int won = ConsumeLowest(events, count);
    if (won >= 0) return static_cast<uint32_t>(won);

    for (nfds_t i = 0; i < n; ++i) fds[i].revents = 0;
    const int r = poll(fds, n, deadline.RemainingMs());
    if (r < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents & POLLNVAL) return kWaitFailed;
    }
    if (r == 0) {
      if (deadline.Expired()) return kWaitTimeout;
      continue;
    }
    const int got = ConsumeLowest(events, count);
    if (got >= 0) return static_cast<uint32_t>(got);
    if (extraFd >= 0 && fds[count].revents != 0) return count;
    // Another waiter took the signal: wait again with the time that is left.
  }
}

uint32_t SignalAndWait(Event* toSignal, Event* toWait, uint32_t timeoutMs) {
  if (!toSignal || !toWait) return kWaitFailed;
  // The counter keeps an acknowledgement that arrives before the wait begins, so
  // signalling first and then waiting loses nothing.
  SignalEvent(toSignal);
  return WaitEvent(toWait, timeoutMs);
}

int EventFd(Event* e) { return e ? e->fd : -1; }

// Without a window system of its own the POSIX layer has no thread input: a
// toolkit passes its descriptor, or watches the events' descriptors itself.
UiInput ThreadUiInput() { return UiInput{}; }

void DispatchUiInput() {}

}  // namespace sn::platform
