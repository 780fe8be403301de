// FNV-1a, 64 bits: the checksum of the binaural table that the generator prints
// and the table's test verifies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sn::binaural {

inline uint64_t Fnv1a64(const unsigned char* p, std::size_t n) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

}  // namespace sn::binaural
