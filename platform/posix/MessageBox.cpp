// Message boxes without a user interface: one line "<caption>: <text>" on
// standard error, written with one call so that lines of several threads do not
// interleave.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Platform.h"

namespace sn::platform {

void ShowMessage(void* /*owner*/, const char16_t* text, const char16_t* caption, Event* /*dismiss*/) {
  try {
    const std::string line = ToUtf8(caption) + ": " + ToUtf8(text) + "\n";
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  } catch (...) {
  }
}

}  // namespace sn::platform
