#include "ui/Texts.h"

#include <cstdio>
#include <cstring>

namespace sn::ui {

namespace {

constexpr const char16_t* kModeNames[kModeCount] = {
    u"Bypass",
    u"Passive decoding (3/1) = L,R,C,S",
    u"Sonavel-SN (3/2) = L,R,C,SL,SR",
    u"Sonavel Headphone (2/0) = L,R",
    u"Sonavel Encoder (2/0) = L,R",
};

constexpr const char16_t* kIconTexts[kModeCount] = {
    u"Sonavel - Bypass",
    u"Sonavel - Passive decoding",
    u"Sonavel - Sonavel-SN",
    u"Sonavel - Sonavel Headphone",
    u"Sonavel - Sonavel Encoder",
};

bool HeadphoneRate(uint32_t rate) { return rate == 44100 || rate == 48000; }

}  // namespace

const char16_t* ModeName(int mode) { return mode >= 0 && mode < kModeCount ? kModeNames[mode] : u""; }

const char16_t* IconText(int mode) { return mode >= 0 && mode < kModeCount ? kIconTexts[mode] : nullptr; }

const char16_t* BalloonText(int mode, int channels, uint32_t sampleRate) {
  switch (mode) {
    case 1:
      return channels != 2 ? u"Passive decoder inactive\n\nSource must be 2 channels" : nullptr;
    case 2:
      return channels != 2 ? u"Sonavel-SN inactive\n\nSource must be 2 channels" : nullptr;
    case 3:
      return !HeadphoneRate(sampleRate)
                 ? u"Sonavel Headphone inactive\n\nSource must have a sample rate of 44.1 or 48 KHz"
                 : nullptr;
    case 4:
      return channels != 5 && channels != 6 ? u"Sonavel Encoder inactive\n\nSource must be 5 or 6 channels" : nullptr;
    default:
      return nullptr;
  }
}

std::optional<Status> StatusFor(bool open, int mode, int channels, uint32_t sampleRate) {
  if (!open) return Status{u"Inactive", u"Inactive"};
  switch (mode) {
    case 0:
      return Status{u"Bypass - Active", u"Inactive"};
    case 1:
      if (channels == 2) return Status{u"Passive - Decoding", u"Working"};
      return Status{u"Passive - Invalid format, bypass active", u"Source must have 2 channels"};
    case 2:
      if (channels == 2) return Status{u"Sonavel-SN - Decoding", u"Working"};
      return Status{u"Sonavel-SN - Invalid format, bypass active", u"Source must have 2 channels"};
    case 3:
      // The headphone renderer takes every channel count the host accepts.
      if (HeadphoneRate(sampleRate)) return Status{u"Sonavel Headphone - Decoding", u"Working"};
      return Status{u"Sonavel Headphone - Invalid format, bypass active",
                    u"Source must have a sample rate of 44.1 or 48 KHz"};
    case 4:
      if (channels == 5 || channels == 6) return Status{u"Sonavel Encoder - Encoding", u"Working"};
      return Status{u"Sonavel Encoder - Invalid format, bypass active", u"Source must have 5 or 6 channels"};
    default:
      return std::nullopt;
  }
}

std::u16string BuildLine(const char* date, const char* time) {
  // __DATE__ is "Mmm dd yyyy" with the day padded by a space; the weekday comes
  // from Zeller's congruence on the Gregorian calendar.
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static constexpr const char* kDays[7] = {"Sat", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri"};
  char text[64];
  int day = 0, year = 0;
  char mon[4] = {};
  int month = -1;
  if (date && std::sscanf(date, "%3s %d %d", mon, &day, &year) == 3) {
    for (int i = 0; i < 12; ++i)
      if (std::strcmp(mon, kMonths[i]) == 0) month = i + 1;
  }
  if (month < 1 || day < 1 || day > 31 || year < 1583) {
    std::snprintf(text, sizeof text, "%s %s", date ? date : "", time ? time : "");
  } else {
    int m = month, y = year;
    if (m < 3) {
      m += 12;
      --y;
    }
    const int k = y % 100, j = y / 100;
    const int h = (day + 13 * (m + 1) / 5 + k + k / 4 + j / 4 + 5 * j) % 7;
    std::snprintf(text, sizeof text, "%s %s %2d %s %d", kDays[h], kMonths[month - 1], day, time ? time : "",
                  year);
  }
  std::u16string out = u"Built on: ";
  for (const char* p = text; *p; ++p) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  return out;
}

std::u16string BuiltOn() { return BuildLine(__DATE__, __TIME__); }

}  // namespace sn::ui
