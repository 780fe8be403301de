// The user interface's own texts and the rules that choose between them: mode
// names, the icon's text, the decoder-inactive balloons, the status line and
// the about information. Pure functions, usable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sn::ui {

inline constexpr int kModeCount = 5;

// The names in both mode lists, by Config::Mode.
const char16_t* ModeName(int mode);

// The notification icon's text for `mode`; null for a value outside 0..4
// (the text is then left as it was).
const char16_t* IconText(int mode);
inline constexpr char16_t kIconInitialText[] = u"Sonavel";

// The balloon for a stream of `channels` at `sampleRate` in `mode`, or null
// when the mode can process it (or never warns).
const char16_t* BalloonText(int mode, int channels, uint32_t sampleRate);
inline constexpr char16_t kBalloonTitle[] = u"Sonavel";

struct Status {
  const char16_t* text;
  const char16_t* tip;
};
// The status line; nothing for an open stream in a mode outside 0..4 (left as it was).
std::optional<Status> StatusFor(bool open, int mode, int channels, uint32_t sampleRate);

// Captions and questions of the window's boxes.
inline constexpr char16_t kWindowTitle[] = u"Sonavel Configuration";
inline constexpr char16_t kErrorCaption[] = u"Sonavel Error";
inline constexpr char16_t kQuestionCaption[] = u"Sonavel";
inline constexpr char16_t kDefaultQuestion[] = u"Are you sure you want to load all default values?";
inline constexpr char16_t kSelectTitle[] = u"Select Slave Module File";
inline constexpr char16_t kSlavePathTooLong[] = u"The slave module's path is longer than 259 characters.";
#if defined(_WIN32)
inline constexpr char16_t kSlaveFilterName[] = u"DLL files (*.dll)";
inline constexpr char16_t kSlavePattern[] = u"*.dll";
#else
inline constexpr char16_t kSlaveFilterName[] = u"Shared modules (*.so)";
inline constexpr char16_t kSlavePattern[] = u"*.so";
#endif
inline constexpr char16_t kSSE2Yes[] = u"SSE2 is supported";
inline constexpr char16_t kSSE2No[] = u"No SSE2 support";
inline constexpr char16_t kCUDAYes[] = u"CUDA is supported";
inline constexpr char16_t kCUDANo[] = u"No CUDA support";

// The about information, shown by the about box and the window's About tab.
inline constexpr char16_t kAboutTitle[] = u"About";
inline constexpr char16_t kDescription[] = u"Tamberlin Sonavel v1.00";
inline constexpr char16_t kCopyright[] = u"Copyright \u00A9 2009 Tamberlin. All rights reserved.";
inline constexpr char16_t kWebAddress[] = u"www.tamberlin.example";
// "Built on: " and the date in the form "Thu Mar 26 20:05:37 2009", from the
// compiler's __DATE__ ("Mar 26 2009") and __TIME__ ("20:05:37"). Fields it
// cannot read are kept as given.
std::u16string BuildLine(const char* date, const char* time);
// The line of this build.
std::u16string BuiltOn();

}  // namespace sn::ui
