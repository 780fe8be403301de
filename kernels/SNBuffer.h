// SNBuffer: the growable aligned buffer behind every sample and work buffer of
// the engine.
//
// Four words: element pointer (16-byte aligned, or null), count (elements in
// use), capacity (elements allocated) and position (an index its users keep;
// every resize sets it to 0). Storage for n elements is n x sizeof(T) + 16 bytes,
// so that a vector back end may load or store one 16-byte vector past the last
// element. A buffer only grows while a stream runs; Release frees it.
//
// An allocation that fails leaves the buffer empty (null, count and capacity 0):
// the kernels then process nothing instead of writing through a null pointer.
// The record is not thread-safe; the hand-off between the player's and the DSP
// thread serialises every use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace sn {

inline void* AlignedAlloc(size_t bytes) {
  return ::operator new(bytes, std::align_val_t{16}, std::nothrow);
}
inline void AlignedFree(void* p) {
  if (p) ::operator delete(p, std::align_val_t{16});
}

template <class T>
struct SNBuffer {
  T* data;
  uint32_t count;
  uint32_t capacity;
  int32_t position;

  void Init() {
    data = nullptr;
    count = 0;
    capacity = 0;
    position = 0;
  }

  void Release() {
    AlignedFree(data);
    Init();
  }

  // The kernels' growth rule: storage is replaced (contents lost) only when n
  // exceeds both the count and the capacity; the count becomes n, the position 0.
  T* Resize(uint32_t n) {
    if (n > count && n > capacity) {
      AlignedFree(data);
      data = static_cast<T*>(AlignedAlloc(static_cast<size_t>(n) * sizeof(T) + 16));
      capacity = data ? n : 0;
    }
    count = data ? n : 0;
    position = 0;
    return data;
  }

  // Makes room for n elements without touching the count; when the storage has
  // to be replaced its contents are lost and the count and position become 0.
  // False when the memory cannot be had (the buffer is then empty).
  bool Reserve(uint32_t n) {
    if (n <= capacity && (data || n == 0)) return true;
    AlignedFree(data);
    data = static_cast<T*>(AlignedAlloc(static_cast<size_t>(n) * sizeof(T) + 16));
    capacity = data ? n : 0;
    count = 0;
    position = 0;
    return data != nullptr;
  }

  // Resize, then zero the n elements when asked (ResizeFloat / ResizeComplex).
  T* Resize(uint32_t n, bool clear) {
    Resize(n);
    if (clear && data) std::memset(static_cast<void*>(data), 0, static_cast<size_t>(count) * sizeof(T));
    return data;
  }

  // Lengthens the buffer by n elements, keeping the existing ones. Grows to
  // exactly count + n when the capacity does not suffice. The added elements
  // are zeroed.
  void Extend(uint32_t n) {
    if (n == 0) return;
    uint64_t want64 = static_cast<uint64_t>(count) + n;
    if (want64 > UINT32_MAX) return;
    uint32_t want = static_cast<uint32_t>(want64);
    if (want > capacity) {
      T* fresh = static_cast<T*>(AlignedAlloc(static_cast<size_t>(want) * sizeof(T) + 16));
      if (!fresh) return;
      if (data && count) std::memcpy(static_cast<void*>(fresh), data, static_cast<size_t>(count) * sizeof(T));
      AlignedFree(data);
      data = fresh;
      capacity = want;
    }
    std::memset(static_cast<void*>(data + count), 0, static_cast<size_t>(n) * sizeof(T));
    count = want;
  }
};

// A complex spectrum value or a left/right pair; layout-compatible with kiss_fft_cpx.
struct SNComplex {
  float re;
  float im;
};

}  // namespace sn
