#include "platform/posix/Wait.h"

#include <poll.h>

#include <cerrno>
#include <climits>

#include "platform/Platform.h"

namespace sn::platform::detail {

Deadline::Deadline(uint32_t timeoutMs)
    : infinite_(timeoutMs == kInfinite),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeoutMs)) {}

int Deadline::RemainingMs() const {
  if (infinite_) return -1;
  const auto left = end_ - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool Deadline::Expired() const { return !infinite_ && std::chrono::steady_clock::now() >= end_; }

int PollReadable(int fd, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, deadline.RemainingMs());
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r > 0) return (p.revents & POLLNVAL) ? -1 : 1;
    if (deadline.Expired()) return 0;
  }
}

}  // namespace sn::platform::detail
