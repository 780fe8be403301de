// The text of a registry hive in the regedit export format ("Windows Registry
// Editor Version 5.00"): parsing it into lines and sections, reading a key's
// values out of it, putting changed values back, and writing it out again.
//
// The text is a header line followed by sections: a line "[HKEY_CURRENT_USER\path]"
// and under it one line per value, `"name"=data` (`@=data` for the default
// value), where data is a quoted text with the escapes \\ and \", `dword:` and
// eight hex digits, or `hex:`/`hex(N):` and comma-separated bytes that may go on
// over the next lines after a trailing backslash.
//
// The hive is kept as its lines, so every other key and value, and even lines
// that are not understood, come out as they went in. Key and value names compare
// case-insensitively (ASCII letters).
//
// Pure functions on strings: no files, no locks, no state; any thread. Only the
// file-backed hive of POSIX systems uses them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sn::platform::regtext {

inline constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
inline constexpr char kOldHeader[] = "REGEDIT4";
inline constexpr char kRoot[] = "HKEY_CURRENT_USER";
inline constexpr uint32_t kTypeSz = 1;
inline constexpr uint32_t kTypeBinary = 3;
inline constexpr uint32_t kTypeDword = 4;

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

// Changed values of one key in the order they were first written, first
// spelling of each name kept.
using Changes = std::vector<std::pair<std::string, Value>>;

// The name folded for comparison: ASCII letters in lower case.
std::string Fold(std::string_view s);
// True when `s` holds a control character (below U+0020), which no line can carry.
bool HasControl(std::string_view s);

// The data of a value line as a value; false for data that is not understood
// (such values read as missing and are kept as written).
bool DecodeData(std::string_view data, Value& v);
// A value as the data of a value line.
std::string EncodeData(const Value& v);

// The bytes of a hive file as UTF-8 text: a UTF-16LE file (regedit's own
// export) is converted and a UTF-8 byte-order mark dropped.
std::string DecodeFileBytes(std::string bytes);
Hive Parse(std::string_view content);
std::string Serialize(const Hive& hive);
// Puts the export header first unless the hive has one.
void EnsureHeader(Hive& hive);

// "HKEY_CURRENT_USER\" + the path without outer backslashes; false for a path
// that cannot stand in a section line.
bool KeyName(const std::string& path, std::string& key);
// True when the key, or a key below it, has a section.
bool KeyExists(const Hive& hive, const std::string& key);
// The key's values by folded name. A section may appear more than once and a
// name more than once in it; as on import, the last line wins.
std::map<std::string, Value> Snapshot(const Hive& hive, const std::string& key);
// Puts each changed value into the key: its first line in the key's sections is
// rewritten (keeping the name's spelling in the file) and later lines of the same
// name are dropped; a new name goes after the last value of the key's last
// section, and a new key is appended as a section of its own.
void ApplyChanges(Hive& hive, const std::string& key, const Changes& changes);

}  // namespace sn::platform::regtext
