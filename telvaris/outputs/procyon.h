// The Procyon audio-visual entrainment device over a serial port: packets
// and rate codes, and the session behind the exports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "telvaris.h"

namespace outputs::procyon {

// Results of the session calls (telvaris.h names them); the exports return
// them as they are.
enum Result : int32_t {
  kOk = TLV_PROCYON_OK,
  kPortNotSetUp = TLV_PROCYON_PORT_FAILED,  // the serial layer refused a step of the port's set-up
  kNoRateCode = TLV_PROCYON_NO_RATE_CODE,   // a rate without a two-byte code: nothing sent
};

// The modifiers that turn a rate in hertz into the device's units.
constexpr double kLightModifier = 32.768;
constexpr double kSoundModifier = 4.096;

// The 16-bit rate code of `rate` hertz with `modifier`: a 4-bit exponent p
// above a 12-bit mantissa m that stand for a = rate x modifier = m / 2^p.
// p = 12 - log2(a) and m = a x 2^p + 0.5, both truncated, put m between
// 2048 and 4096 for a up to 4096. m = 4096 has no 12 bits: with p above 0
// it goes as m = 2048 with p - 1, the same value; with p = 0 as 4095, the
// nearest. nullopt when there is no code in two bytes: a rate of 0 or
// less, p below 0 or m above 4096 (a above 4096.5), or p above 15 (a below
// 1/16).
std::optional<uint16_t> rateCode(double rate, double modifier);

// The sum of all bytes as unsigned values.
uint16_t checksum(const uint8_t* bytes, size_t count);

using FunctionPacket = std::array<uint8_t, 8>;
using InitialSegment = std::array<uint8_t, 63>;

// A3 30 08, function, value high, value low, checksum.
FunctionPacket functionPacket(uint8_t function, uint16_t value);
// The initial segment for two rate codes.
InitialSegment initialSegment(uint16_t lightCode, uint16_t soundCode);

// The session, one per process, as the exports drive it. None of these
// lets an exception out: one that escapes a step (memory running out in
// the serial layer's set-up, say) ends the call with kPortNotSetUp from
// initialise and kNoRateCode from relay; stop and terminate report kOk as
// always.
int32_t setComPort(int32_t port) noexcept;
int32_t setDebugLevel(int32_t level) noexcept;
int32_t initialise(int32_t lightRate, int32_t soundRate) noexcept;
int32_t relay(int32_t type, int32_t function, int32_t value) noexcept;
int32_t stop() noexcept;
int32_t terminate() noexcept;

}  // namespace outputs::procyon
