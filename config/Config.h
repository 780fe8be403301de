// The settings record and its registry store.
//
// `Config` is a flat record of aligned 32-bit words and one fixed UTF-16 text,
// copied byte for byte between the live record and the dialog's saved copy. The
// user-interface thread writes the live record while the player's and the DSP
// threads read it, so every field shared between threads is read with CfgGet and
// written with CfgSet: single 32-bit relaxed atomic accesses, never torn.
#pragma once

#include <atomic>
#include <cstdint>

namespace sn {

inline constexpr int kSlavePathChars = 260;  // including the terminator

#if defined(_WIN32)
#define SN_DEF_SLAVEMODULE u"out_ds.dll"
#else
// The sound-card slave of POSIX builds.
#define SN_DEF_SLAVEMODULE u"out_alsa.so"
#endif

enum Mode : int32_t {
  kModeBypass = 0,
  kModePassive = 1,
  kModeActive = 2,
  kModeHeadphones = 3,
  kModeEncoder = 4,
};

struct Config {
  int32_t Mode;
  int32_t MasterGain;
  int32_t SurroundMode;  // 0 Movie, 1 Music
  int32_t CentreWeight;
  int32_t SurroundDelayMusic;
  int32_t SurroundDelayMovie;
  int32_t MusicSurroundShelf;
  int32_t HeadphonesMode;  // 0 Music, 1 Movie
  int32_t HeadphonesDecodeMusic;
  int32_t HeadphonesDecodeMovie;
  int32_t DelayL, DelayR, DelayC, DelaySub, DelaySL, DelaySR;
  int32_t TrimL, TrimR, TrimC, TrimSub, TrimSL, TrimSR;
  int32_t LFERedir;
  int32_t LFEInvert;
  int32_t LFECutoff;
  int32_t SSE2Enable;
  int32_t CUDAEnable;
  char16_t SlaveModulePath[kSlavePathChars];
  int32_t SlaveRes;
  int32_t LastTab;
  int32_t ShowIcon;
  int32_t ShowIconPlaying;
  int32_t ShowDecoderInactive;
};

template <class T>
inline T CfgGet(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <class T>
inline void CfgSet(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// The defaults of every field.
Config DefaultConfig();
// Copies a whole record field by field through relaxed atomics (Push/Pop).
void CopyConfig(Config& to, const Config& from);
// Reads the slave path into `out` (kSlavePathChars units, terminated).
void GetSlavePath(const Config& c, char16_t* out);
// Stores `path` (truncated to 259 characters plus the terminator).
void SetSlavePath(Config& c, const char16_t* path);

// Loads every field from the registry with its default and load rule.
void LoadConfig(Config& c);
// Stores every field as it stands; returns the registry status (0 on success).
long StoreConfig(const Config& c);

inline constexpr const char* kRegistryKey = "SOFTWARE\\Tamberlin\\Sonavel";

}  // namespace sn
