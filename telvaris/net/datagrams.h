// The datagrams of the cloud client: a fixed 72-byte OSC-style bundle of
// five 32-bit values, and short JSON-like text objects of integers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace net::datagrams {

constexpr size_t kBundleSize = 72;
// The address pattern's field holds at most this many characters and one
// zero byte at least.
constexpr size_t kMaxPatternLength = 23;

// The bundle for `pattern` (at most kMaxPatternLength characters) and five
// values sent as their bit patterns, stamped with `unixSeconds`.
std::array<uint8_t, kBundleSize> oscBundle(const std::string& pattern, const uint32_t values[5],
                                           uint32_t unixSeconds);

// The text object of `type` (2, 4, 6 or 8) for `address`, taking from
// `values` what the type shows (type 4 reads values[1] and values[5]);
// nullopt for other types.
std::optional<std::string> jsonText(int32_t type, const std::string& address, const int32_t* values);

// The process's one client (telvaris.h, "Datagrams", for the results; any
// of these may throw std::bad_alloc, which the exports turn into a result).
int32_t initialise(const char* address, int32_t port, int32_t capture, const char* capturePath);
int32_t sendOsc(const char* pattern, const uint32_t* values);
int32_t sendJson(const char* address, const int32_t* values, int32_t type);
int32_t terminate();

}  // namespace net::datagrams
