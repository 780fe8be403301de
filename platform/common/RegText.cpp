// The regedit text codec. See RegText.h.
#include "platform/common/RegText.h"

#include <cstdio>
#include <cstring>

#include "platform/Platform.h"

namespace sn::platform::regtext {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

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

std::string ValueLine(const std::string& name, const std::string& data) {
  return (name.empty() ? std::string("@") : Quote(name)) + "=" + data;
}

bool IsBlank(const std::string& line) { return Trim(line).empty(); }

}  // namespace

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasControl(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

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

std::string DecodeFileBytes(std::string bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string w((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i) {
      w[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                   (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
    }
    return ToUtf8(w.c_str());
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return bytes;
}

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

bool KeyName(const std::string& path, std::string& key) {
  if (HasControl(path)) return false;
  std::string_view p = path;
  while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
  while (!p.empty() && p.back() == '\\') p.remove_suffix(1);
  key = kRoot;
  if (!p.empty()) {
    key += '\\';
    key.append(p);
  }
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

}  // namespace sn::platform::regtext
