// The current user's hive as one text file in the regedit export format; the
// text itself is read and written by platform/common/RegText.
//
// A key reads the file once when it is opened and keeps its values; writes go to
// that copy and to a list of changes. Saving takes the lock, reads the file again,
// replaces the lines of the changed values (or appends them to the key's section),
// and renames a complete new file over the old one, so every other key and value
// comes out as it went in.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/common/RegText.h"
#include "platform/posix/Wait.h"

namespace sn::platform {

using regtext::Changes;
using regtext::Fold;
using regtext::HasControl;
using regtext::Hive;
using regtext::kTypeDword;
using regtext::kTypeSz;
using regtext::Value;

namespace {

// A save waits at most this long for another writer's lock.
constexpr uint32_t kLockTimeoutMs = 5000;
// A larger file is not a settings hive; it reads as unreadable.
constexpr off_t kMaxHiveBytes = off_t{16} << 20;

enum class ReadResult { kRead, kMissing, kUnreadable };

// Reads and parses the hive. `mode` receives the file's permissions.
ReadResult ReadHive(const std::string& path, Hive& hive, mode_t* mode = nullptr) {
  // Non-blocking, so that a FIFO or a device in its place cannot hold the caller
  // up; only a regular file is read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kUnreadable;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxHiveBytes) {
    close(fd);
    return ReadResult::kUnreadable;
  }
  if (mode) *mode = st.st_mode & 07777;
  std::string content;
  char buf[8192];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || static_cast<off_t>(content.size()) + n > kMaxHiveBytes) {
      close(fd);
      return ReadResult::kUnreadable;
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  hive = regtext::Parse(regtext::DecodeFileBytes(std::move(content)));
  return ReadResult::kRead;
}

// Creates the directories of `dir` that are missing.
bool MakeDirectories(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '/') continue;
    const std::string prefix = dir.substr(0, pos);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The advisory lock of one hive: an exclusive flock on "<hive>.lock", a file of
// its own because the hive itself is replaced by rename. flock has no timed form,
// so the lock is tried again every few milliseconds until kLockTimeoutMs.
class HiveLock {
 public:
  bool Acquire(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    const detail::Deadline deadline(kLockTimeoutMs);
    for (;;) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK || deadline.Expired()) return false;
      const timespec pause{0, 5 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  ~HiveLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes a temporary file beside `path`, flushes it to the disk and renames it
// over `path`, so that readers see the old file or the new one, never a part.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);  // the rename itself; best effort
    close(dfd);
  }
  return true;
}

// A hive that is a symbolic link is rewritten where the link points.
std::string ResolveLink(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* target = realpath(path.c_str(), nullptr);
  if (!target) return path;
  std::string out = target;
  free(target);
  return out;
}

long SaveChanges(const std::string& key, const Changes& changes) {
  const std::string path = ResolveLink(RegistryPath());
  if (path.empty()) return kRegAccessDenied;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return kRegAccessDenied;
  HiveLock lock;
  if (!lock.Acquire(path + ".lock")) return kRegAccessDenied;
  Hive hive;
  mode_t mode = 0600;
  // A file that exists but cannot be read is never replaced: its contents would
  // be lost. Nor is one its owner made read-only.
  const ReadResult read = ReadHive(path, hive, &mode);
  if (read == ReadResult::kUnreadable) return kRegAccessDenied;
  if (read == ReadResult::kRead && !(mode & S_IWUSR)) return kRegAccessDenied;
  regtext::EnsureHeader(hive);
  regtext::ApplyChanges(hive, key, changes);
  return ReplaceFile(path, regtext::Serialize(hive), mode) ? kRegOk : kRegAccessDenied;
}

}  // namespace

struct RegistryKey::Impl {
  std::string key;  // "HKEY_CURRENT_USER\..."
  bool writable = false;
  mutable std::mutex mutex;
  std::map<std::string, Value> values;  // by folded name: as read, with this key's writes
  Changes changes;                      // written and not yet saved, first spelling kept

  long Set(const std::string& name, Value v) {
    if (!writable) return kRegAccessDenied;
    if (HasControl(name)) return kRegInvalidParameter;
    std::lock_guard<std::mutex> lock(mutex);
    const std::string folded = Fold(name);
    values[folded] = v;
    for (auto& change : changes) {
      if (Fold(change.first) == folded) {
        change.second = std::move(v);
        return kRegOk;
      }
    }
    changes.emplace_back(name, std::move(v));
    return kRegOk;
  }
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// Writes reach the hive even when the key is dropped without Close.
RegistryKey::~RegistryKey() {
  try {
    Close();
  } catch (...) {
  }
}

std::unique_ptr<RegistryKey> RegistryKey::Open(const std::string& path) {
  try {
    auto impl = std::make_unique<Impl>();
    if (!regtext::KeyName(path, impl->key)) return nullptr;
    const std::string file = RegistryPath();
    Hive hive;
    if (file.empty() || ReadHive(file, hive) != ReadResult::kRead || !regtext::KeyExists(hive, impl->key)) return nullptr;
    impl->values = regtext::Snapshot(hive, impl->key);
    return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
  } catch (...) {
    return nullptr;
  }
}

std::unique_ptr<RegistryKey> RegistryKey::Create(const std::string& path, long* status) {
  long result = kRegOk;
  std::unique_ptr<RegistryKey> key;
  try {
    auto impl = std::make_unique<Impl>();
    const std::string file = RegistryPath();
    if (!regtext::KeyName(path, impl->key)) {
      result = kRegInvalidParameter;
    } else if (file.empty()) {
      result = kRegAccessDenied;
    } else {
      // The key comes into the file with its first value; until then a missing
      // or unreadable hive just means no values yet.
      Hive hive;
      if (ReadHive(file, hive) == ReadResult::kRead) impl->values = regtext::Snapshot(hive, impl->key);
      impl->writable = true;
      key.reset(new RegistryKey(std::move(impl)));
    }
  } catch (...) {
    result = kRegAccessDenied;
  }
  if (status) *status = result;
  return key;
}

long RegistryKey::Query(const std::string& name, RegType* type, void* data, uint32_t* size) const {
  try {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto it = impl_->values.find(Fold(name));
    if (it == impl_->values.end()) return kRegNotFound;
    const Value& v = it->second;
    const auto need = static_cast<uint32_t>(v.bytes.size());
    if (type) *type = static_cast<RegType>(v.type);
    if (!data) {
      if (size) *size = need;
      return kRegOk;
    }
    if (!size) return kRegInvalidParameter;
    if (*size < need) {
      *size = need;
      return kRegMoreData;
    }
    if (need) std::memcpy(data, v.bytes.data(), need);  // an empty value may have no storage at all
    *size = need;
    return kRegOk;
  } catch (...) {
    return kRegNotFound;
  }
}

long RegistryKey::SetDword(const std::string& name, uint32_t value) {
  try {
    Value v;
    v.type = kTypeDword;
    v.bytes.resize(sizeof value);
    std::memcpy(v.bytes.data(), &value, sizeof value);
    return impl_->Set(name, std::move(v));
  } catch (...) {
    return kRegAccessDenied;
  }
}

long RegistryKey::SetString(const std::string& name, const char16_t* value) {
  try {
    const std::u16string w = value ? std::u16string(value) : std::u16string();
    Value v;
    v.type = kTypeSz;
    v.bytes.resize((w.size() + 1) * sizeof(char16_t));
    std::memcpy(v.bytes.data(), w.c_str(), v.bytes.size());
    return impl_->Set(name, std::move(v));
  } catch (...) {
    return kRegAccessDenied;
  }
}

long RegistryKey::Close() {
  try {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->writable || impl_->changes.empty()) return kRegOk;
    const Changes changes = std::move(impl_->changes);
    impl_->changes.clear();
    return SaveChanges(impl_->key, changes);
  } catch (...) {
    return kRegAccessDenied;
  }
}

std::string RegistryPath() {
  try {
    const char* reg = std::getenv("SONAVEL_REGISTRY");
    if (reg && *reg) return reg;
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (xdg && xdg[0] == '/') {
      base = xdg;  // a relative XDG_CONFIG_HOME is invalid and ignored
    } else if (home && *home) {
      base = std::string(home) + "/.config";
    } else {
      return std::string();
    }
    return base + "/sonavel/user.reg";
  } catch (...) {
    return std::string();
  }
}

}  // namespace sn::platform
