// The Procyon audio-visual entrainment device over a serial port: packets
// and rate codes, and the session kept by the exports.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace outputs::procyon {

// The modifiers that turn a rate in hertz into the device's units.
constexpr double kLightModifier = 32.768;
constexpr double kSoundModifier = 4.096;

// The 16-bit rate code of `rate` hertz with `modifier`: a 4-bit exponent p
// above a 12-bit mantissa m, a = rate x modifier, p = 12 - log2(a) and
// m = a x 2^p + 0.5, both truncated. nullopt when there is no such code in
// two bytes: a rate of 0 or less, a of 8192 or more (p below 0), or a of
// about 1/8 or less (p x 4096 + m above 65535).
std::optional<uint16_t> rateCode(double rate, double modifier);

// The sum of all bytes as unsigned values.
uint16_t checksum(const uint8_t* bytes, size_t count);

// Fixed control packets.
std::vector<uint8_t> stopPacket();
std::vector<uint8_t> startUp2Packet();
std::vector<uint8_t> startUp3Packet();
// A3 30 08, function, value high, value low, checksum.
std::vector<uint8_t> functionPacket(uint8_t function, uint16_t value);
// The 63-byte initial segment for two rate codes.
std::vector<uint8_t> initialSegment(uint16_t lightCode, uint16_t soundCode);

}  // namespace outputs::procyon
