// Little-endian integer PCM as the input conversions of both back ends read it.
//
// Decode<Bits> gives the integer value of one sample before scaling: 8-bit
// unsigned v - 128, 16-bit v, 24-bit v in the upper 24 bits of a 32-bit word
// (v * 256), 32-bit v. kScale<Bits> is the matching factor that maps full scale
// to 0.707. kLanes<Channels> lists, in source order, the frame lane each source
// channel goes to; kZeroLanes<Channels> the lanes of 0..5 that get 0.0.
#pragma once

#include <array>
#include <cstdint>

namespace sn {

// Fixed input scale factors: the float nearest 0.707 over 2^(bits-1), so full
// scale of every format enters the engine at about -3 dB.
inline constexpr float kInputDiv = 1.4144272f;  // 1 / 0.707, bits 0x3FB50BF3
inline constexpr float FDIV8 = 0.707f / 128.0f;
inline constexpr float FDIV16 = 0.707f / 32768.0f;
inline constexpr float FDIV32 = 0.707f / 2147483648.0f;

}  // namespace sn

namespace sn::pcm {

template <int Bits>
int32_t Decode(const uint8_t* p);

template <>
inline int32_t Decode<8>(const uint8_t* p) {
  return static_cast<int32_t>(p[0]) - 128;
}
template <>
inline int32_t Decode<16>(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
template <>
inline int32_t Decode<24>(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24);
}
template <>
inline int32_t Decode<32>(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

template <int Bits>
inline constexpr float kScale = Bits == 8 ? FDIV8 : Bits == 16 ? FDIV16 : FDIV32;

template <int Channels>
inline constexpr std::array<int, Channels> kLanes{};
template <>
inline constexpr std::array<int, 1> kLanes<1>{2};
template <>
inline constexpr std::array<int, 2> kLanes<2>{0, 1};
template <>
inline constexpr std::array<int, 5> kLanes<5>{0, 1, 2, 4, 5};
template <>
inline constexpr std::array<int, 6> kLanes<6>{0, 1, 2, 3, 4, 5};

template <int Channels>
inline constexpr std::array<int, 6 - Channels> kZeroLanes{};
template <>
inline constexpr std::array<int, 5> kZeroLanes<1>{0, 1, 3, 4, 5};
template <>
inline constexpr std::array<int, 4> kZeroLanes<2>{2, 3, 4, 5};
template <>
inline constexpr std::array<int, 1> kZeroLanes<5>{3};

}  // namespace sn::pcm
