// Bounded waits on descriptors for the POSIX platform layer: a monotonic
// deadline and a poll() that gives up when it has passed. Internal to
// platform/posix.
#pragma once

#include <chrono>
#include <cstdint>

namespace sn::platform::detail {

// The moment a wait of `timeoutMs` milliseconds started with gives up, on the
// monotonic clock, so that changes of the wall clock neither stretch nor cut it.
// kInfinite never expires.
class Deadline {
 public:
  explicit Deadline(uint32_t timeoutMs);
  // The time left as a poll() time-out: -1 without a deadline, 0 once it has
  // passed, otherwise rounded up so that poll() never ends before the deadline.
  int RemainingMs() const;
  bool Expired() const;

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point end_;
};

// Waits until `fd` is readable, without reading. Returns 1 when readable (end of
// file and errors count as readable), 0 when the deadline passed, -1 for a bad
// descriptor.
int PollReadable(int fd, const Deadline& deadline);

}  // namespace sn::platform::detail
