// The current user's hive as one text file in the regedit export format.
//
// The file is a header line followed by sections: a line "[HKEY_CURRENT_USER\path]"
// and under it one line per value, `"name"=data` (`@=data` for the default
// value), where data is a quoted text with the escapes \\ and \", `dword:` and
// eight hex digits, or `hex:`/`hex(N):` and comma-separated bytes that may go on
// over the next lines after a trailing backslash.
//
// A key reads the file once when it is opened and keeps its values; writes go to
// that copy and to a list of changes. Saving takes the lock, reads the file again,
// replaces the lines of the changed values (or appends them to the key's section),
// and renames a complete new file over the old one. The file is kept as its
// lines, so every other key and value, and even lines that are not understood,
// come out as they went in.
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
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/posix/Wait.h"

namespace sn::platform {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kOldHeader[] = "REGEDIT4";
constexpr char kRoot[] = "HKEY_CURRENT_USER";
constexpr uint32_t kTypeSz = static_cast<uint32_t>(RegType::Sz);
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = static_cast<uint32_t>(RegType::Dword);
// A save waits at most this long for another writer's lock.
constexpr uint32_t kLockTimeoutMs = 5000;
// A larger file is not a settings hive; it reads as unreadable.
constexpr off_t kMaxHiveBytes = off_t{16} << 20;

// Key and value names compare case-insensitively (ASCII letters).
std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool HasControl(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// A value as a query returns it: its registry type and its bytes.
struct Value {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
};

// One line of a section, or a value line with its continuation lines.
struct Item {
  std::string text;  // as in the file (continuation lines joined by '\n')
  bool isValue = false;
  std::string name;  // unescaped; empty for the default value "@"
  std::string data;  // after '=', continuation lines joined without the backslashes
};

struct Section {
  std::string header;  // the "[...]" line as in the file
  std::string key;     // the text between the brackets
  std::vector<Item> items;
};

struct Hive {
  std::vector<std::string> preamble;  // lines before the first section
  std::vector<Section> sections;
};

// ---- Text of values ----

// Reads a quoted text at s[pos] == '"'. Only \\ and \" are escapes; another
// backslash stands for itself. On success `pos` is just past the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (c == '"') {
      pos = i + 1;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Splits `"name"=data` or `@=data`; false for anything else.
bool ParseValueLine(std::string_view line, std::string& name, std::string& data) {
  size_t pos = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, name)) {
    return false;
  }
  std::string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return false;
  data = std::string(Trim(rest.substr(1)));
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to `maxDigits` hex digits and nothing else.
bool ParseHexNumber(std::string_view s, size_t maxDigits, uint32_t& out) {
  if (s.empty() || s.size() > maxDigits) return false;
  out = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

bool ParseHexBytes(std::string_view s, std::vector<uint8_t>& out) {
  out.clear();
  s = Trim(s);
  if (s.empty()) return true;
  for (;;) {
    const size_t comma = s.find(',');
    uint32_t b;
    if (!ParseHexNumber(Trim(s.substr(0, comma)), 2, b)) return false;
    out.push_back(static_cast<uint8_t>(b));
    if (comma == std::string_view::npos) return true;
    s = s.substr(comma + 1);
  }
}

bool StartsWithFolded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Fold(s.substr(0, prefix.size())) == prefix;
}

// The data of a value line as a value; false for data that is not understood
// (such values read as missing and are kept as written).
bool DecodeData(std::string_view data, Value& v) {
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ParseQuoted(data, pos, text) || !Trim(data.substr(pos)).empty()) return false;
    const std::u16string w = FromUtf8(text);
    v.type = kTypeSz;
    v.bytes.resize((w.size() + 1) * sizeof(char16_t));
    std::memcpy(v.bytes.data(), w.c_str(), v.bytes.size());
    return true;
  }
  if (StartsWithFolded(data, "dword:")) {
    uint32_t d;
    if (!ParseHexNumber(data.substr(6), 8, d)) return false;
    v.type = kTypeDword;
    v.bytes.resize(sizeof d);
    std::memcpy(v.bytes.data(), &d, sizeof d);
    return true;
  }
  if (StartsWithFolded(data, "hex:")) {
    v.type = kTypeBinary;
    return ParseHexBytes(data.substr(4), v.bytes);
  }
  if (StartsWithFolded(data, "hex(")) {
    const size_t close = data.find("):");
    uint32_t type;
    if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), 8, type)) return false;
    v.type = type;
    return ParseHexBytes(data.substr(close + 2), v.bytes);
  }
  return false;
}

std::string HexData(uint32_t type, const std::vector<uint8_t>& bytes) {
  char buf[16];
  std::string out;
  if (type == kTypeBinary) {
    out = "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    out = buf;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", bytes[i]);
    out += buf;
  }
  return out;
}

// A string goes into the file as quoted UTF-8, unless it holds what a quoted line
// cannot carry (line breaks and other control characters, unpaired surrogates):
// then as hex(1), its UTF-16LE bytes, the form regedit uses for such strings.
std::string EncodeData(const Value& v) {
  if (v.type == kTypeDword && v.bytes.size() == 4) {
    uint32_t d;
    std::memcpy(&d, v.bytes.data(), sizeof d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    return buf;
  }
  if (v.type == kTypeSz && v.bytes.size() % 2 == 0 && !v.bytes.empty()) {
    std::u16string w(v.bytes.size() / 2, u'\0');
    std::memcpy(w.data(), v.bytes.data(), v.bytes.size());
    bool plain = w.back() == 0;
    if (plain) w.pop_back();
    for (size_t i = 0; plain && i < w.size(); ++i) {
      const char16_t u = w[i];
      if (u < 0x20) plain = false;
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
          ++i;
        } else {
          plain = false;
        }
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        plain = false;
      }
    }
    if (plain) return Quote(ToUtf8(w.c_str()));
  }
  return HexData(v.type, v.bytes);
}

std::string ValueLine(const std::string& name, const std::string& data) {
  return (name.empty() ? std::string("@") : Quote(name)) + "=" + data;
}

// ---- The file as lines ----

Hive Parse(std::string_view content) {
  std::vector<std::string_view> lines;
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
  Hive hive;
  Section* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      hive.sections.push_back(Section{std::string(lines[i]), std::string(line.substr(1, line.size() - 2)), {}});
      current = &hive.sections.back();
      continue;
    }
    if (!current) {
      hive.preamble.emplace_back(lines[i]);
      continue;
    }
    Item item;
    item.text = std::string(lines[i]);
    if (ParseValueLine(line, item.name, item.data)) {
      item.isValue = true;
      while (!item.data.empty() && item.data[0] != '"' && item.data.back() == '\\' && i + 1 < lines.size()) {
        item.data.pop_back();
        ++i;
        item.text += '\n';
        item.text += lines[i];
        item.data += Trim(lines[i]);
      }
    }
    current->items.push_back(std::move(item));
  }
  return hive;
}

std::string Serialize(const Hive& hive) {
  std::string out;
  for (const std::string& line : hive.preamble) out += line + "\n";
  for (const Section& s : hive.sections) {
    out += s.header + "\n";
    for (const Item& item : s.items) out += item.text + "\n";
  }
  return out;
}

void EnsureHeader(Hive& hive) {
  for (const std::string& line : hive.preamble) {
    const std::string_view t = Trim(line);
    if (t == kHeader || t == kOldHeader) return;
  }
  hive.preamble.insert(hive.preamble.begin(), {kHeader, ""});
}

// "HKEY_CURRENT_USER\" + the path without outer backslashes; false for a path
// that cannot stand in a section line.
bool KeyName(const std::string& path, std::string& key) {
  if (HasControl(path)) return false;
  std::string_view p = path;
  while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
  while (!p.empty() && p.back() == '\\') p.remove_suffix(1);
  key = kRoot;
  if (!p.empty()) key += "\\" + std::string(p);
  return true;
}

bool KeyExists(const Hive& hive, const std::string& key) {
  const std::string folded = Fold(key);
  const std::string below = folded + "\\";
  for (const Section& s : hive.sections) {
    const std::string k = Fold(s.key);
    if (k == folded || k.compare(0, below.size(), below) == 0) return true;
  }
  return false;
}

// The key's values by folded name. A section may appear more than once and a
// name more than once in it; as on import, the last line wins.
std::map<std::string, Value> Snapshot(const Hive& hive, const std::string& key) {
  std::map<std::string, Value> values;
  const std::string folded = Fold(key);
  for (const Section& s : hive.sections) {
    if (Fold(s.key) != folded) continue;
    for (const Item& item : s.items) {
      if (!item.isValue) continue;
      Value v;
      if (DecodeData(item.data, v)) {
        values[Fold(item.name)] = std::move(v);
      } else {
        values.erase(Fold(item.name));
      }
    }
  }
  return values;
}

bool IsBlank(const std::string& line) { return Trim(line).empty(); }

using Changes = std::vector<std::pair<std::string, Value>>;

// Puts each changed value into the key: its first line in the key's sections is
// rewritten (keeping the name's spelling in the file) and later lines of the same
// name are dropped; a new name goes after the last value of the key's last
// section, and a new key is appended as a section of its own.
void ApplyChanges(Hive& hive, const std::string& key, const Changes& changes) {
  const std::string folded = Fold(key);
  for (const auto& [name, value] : changes) {
    const std::string foldedName = Fold(name);
    const std::string data = EncodeData(value);
    bool placed = false;
    Section* last = nullptr;
    for (Section& s : hive.sections) {
      if (Fold(s.key) != folded) continue;
      last = &s;
      for (auto it = s.items.begin(); it != s.items.end();) {
        if (!it->isValue || Fold(it->name) != foldedName) {
          ++it;
        } else if (!placed) {
          it->data = data;
          it->text = ValueLine(it->name, data);
          placed = true;
          ++it;
        } else {
          it = s.items.erase(it);
        }
      }
    }
    if (placed) continue;
    if (!last) {
      const bool separated = hive.sections.empty()
                                 ? (hive.preamble.empty() || IsBlank(hive.preamble.back()))
                                 : (!hive.sections.back().items.empty() && IsBlank(hive.sections.back().items.back().text));
      if (!separated) {
        if (hive.sections.empty()) {
          hive.preamble.emplace_back();
        } else {
          hive.sections.back().items.push_back(Item{});
        }
      }
      hive.sections.push_back(Section{"[" + key + "]", key, {Item{}}});
      last = &hive.sections.back();
    }
    size_t at = last->items.size();
    while (at > 0 && !last->items[at - 1].isValue && IsBlank(last->items[at - 1].text)) --at;
    Item item;
    item.isValue = true;
    item.name = name;
    item.data = data;
    item.text = ValueLine(name, data);
    last->items.insert(last->items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
  }
}

// ---- Files ----

enum class ReadResult { kRead, kMissing, kUnreadable };

// Reads and parses the hive. A UTF-16LE file (regedit's own export) and a UTF-8
// byte-order mark are accepted. `mode` receives the file's permissions.
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
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    std::u16string w((content.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i) {
      w[i] = static_cast<char16_t>(static_cast<unsigned char>(content[2 + 2 * i]) |
                                   (static_cast<unsigned char>(content[3 + 2 * i]) << 8));
    }
    content = ToUtf8(w.c_str());
  } else if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    content.erase(0, 3);
  }
  hive = Parse(content);
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
  EnsureHeader(hive);
  ApplyChanges(hive, key, changes);
  return ReplaceFile(path, Serialize(hive), mode) ? kRegOk : kRegAccessDenied;
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
    if (!KeyName(path, impl->key)) return nullptr;
    const std::string file = RegistryPath();
    Hive hive;
    if (file.empty() || ReadHive(file, hive) != ReadResult::kRead || !KeyExists(hive, impl->key)) return nullptr;
    impl->values = Snapshot(hive, impl->key);
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
    if (!KeyName(path, impl->key)) {
      result = kRegInvalidParameter;
    } else if (file.empty()) {
      result = kRegAccessDenied;
    } else {
      // The key comes into the file with its first value; until then a missing
      // or unreadable hive just means no values yet.
      Hive hive;
      if (ReadHive(file, hive) == ReadResult::kRead) impl->values = Snapshot(hive, impl->key);
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
