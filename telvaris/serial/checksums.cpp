#include <array>

#include "serial/comports.h"

namespace comports {

uint8_t Checksum8(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  return static_cast<uint8_t>(-sum);
}

uint16_t Crc16Xmodem(const void* data, size_t count) {
  // Polynomial 0x1021, initial 0, no reflection, no final XOR.
  const auto* p = static_cast<const uint8_t*>(data);
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

namespace {
constexpr std::array<uint32_t, 256> makeCrc32Table() {
  std::array<uint32_t, 256> table {};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr auto kCrc32Table = makeCrc32Table();
}  // namespace

uint32_t Crc32(const void* data, size_t count) {
  // The reflected 0x04C11DB7 polynomial of zip and Ethernet.
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) crc = kCrc32Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace comports
