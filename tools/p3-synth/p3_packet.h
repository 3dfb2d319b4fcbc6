// Encoding of P3 packets, the fixed-length frames a DSU streams.
//
// Byte 0 is the counter byte (top bit clear; the packet counter 0..63 sits
// in bits 1..6), byte 1 the auxiliary byte (0xFF marks a manual button
// press), then one group of three bytes per pair of channels: the low seven
// bits of the even channel, the low seven bits of the odd channel, and a
// high-bits byte (bits 4..6: even channel bits 7..9; bits 0..3: odd channel
// bits 7..10). The last byte of a packet has its top bit set as the frame
// marker. In the 50-byte packet the 32 channels come in four groups of twelve
// bytes after the header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace p3synth {

// Channels a packet of `length` bytes carries: 5 -> 2, 8 -> 4, 11 -> 6,
// 14 -> 8, 50 -> 32; 0 for any other length.
int channelsForLength(int length);

constexpr int32_t kMaxEven = 1023;  // even channels carry 10 bits
constexpr int32_t kMaxOdd = 2047;   // odd channels carry 11 bits

// Writes one packet of `length` bytes to `out` from channelsForLength(length)
// values in `channels` (each clamped into its range). `counter` is taken
// modulo 64. Returns false, writing nothing, for an unknown length.
bool encodePacket(uint8_t* out, int length, int counter, uint8_t aux, const int32_t* channels);

}  // namespace p3synth
