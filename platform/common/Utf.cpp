// UTF-16 <-> UTF-8 at the edges of the platform layer. Invalid input never
// fails: an unpaired surrogate or a malformed UTF-8 sequence becomes U+FFFD.
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace sn::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string ToUtf8(const char16_t* s) {
  std::string out;
  if (!s) return out;
  try {
    for (size_t i = 0; s[i]; ++i) {
      char32_t c = s[i];
      if (IsHigh(s[i]) && IsLow(s[i + 1])) {
        c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        ++i;
      } else if (IsHigh(s[i]) || IsLow(s[i])) {
        c = kReplacement;
      }
      AppendUtf8(out, c);
    }
  } catch (...) {
    return std::string();
  }
  return out;
}

// Decodes one well-formed sequence at a time: the lead byte gives the length,
// each continuation byte must be 10xxxxxx, and overlong forms, surrogates and
// code points above U+10FFFF are refused. A refused sequence yields one U+FFFD
// and decoding resumes at the next byte.
std::u16string FromUtf8(const std::string& s) {
  std::u16string out;
  try {
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
      const auto b = static_cast<unsigned char>(s[i]);
      if (b < 0x80) {
        out += static_cast<char16_t>(b);
        ++i;
        continue;
      }
      int len;
      char32_t c;
      char32_t min;
      if ((b & 0xE0) == 0xC0) {
        len = 2, c = b & 0x1F, min = 0x80;
      } else if ((b & 0xF0) == 0xE0) {
        len = 3, c = b & 0x0F, min = 0x800;
      } else if ((b & 0xF8) == 0xF0) {
        len = 4, c = b & 0x07, min = 0x10000;
      } else {
        out += static_cast<char16_t>(kReplacement);
        ++i;
        continue;
      }
      bool ok = i + len <= n;
      for (int k = 1; ok && k < len; ++k) {
        const auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) ok = false;
        c = (c << 6) | (cb & 0x3F);
      }
      if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
      if (!ok) {
        out += static_cast<char16_t>(kReplacement);
        ++i;
        continue;
      }
      AppendUtf16(out, c);
      i += len;
    }
  } catch (...) {
    return std::u16string();
  }
  return out;
}

}  // namespace sn::platform
