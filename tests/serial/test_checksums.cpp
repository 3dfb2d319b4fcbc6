#include <gtest/gtest.h>

#include <cstring>

#include "serial/comports.h"

namespace {
const char kCheck[] = "123456789";
}

TEST(Checksums, StandardCheckValues) {
  EXPECT_EQ(comports::Crc16Xmodem(kCheck, 9), 0x31C3);
  EXPECT_EQ(comports::Crc32(kCheck, 9), 0xCBF43926u);
  // The byte sum of "123456789" is 0x1DD; its two's complement in 8 bits is 0x23.
  EXPECT_EQ(comports::Checksum8(kCheck, 9), 0x23);
}

TEST(Checksums, EightBitSumMakesTheWholeSumZero) {
  const uint8_t frame[] = {0x02, 0x41, 0xFF, 0x80, 0x7F, 0x00, 0x10};
  const uint8_t sum = comports::Checksum8(frame, sizeof frame);
  unsigned total = sum;
  for (uint8_t b : frame) total += b;
  EXPECT_EQ(total % 256, 0u);
}

TEST(Checksums, EmptyInputGivesTheInitialValues) {
  EXPECT_EQ(comports::Checksum8(nullptr, 0), 0);
  EXPECT_EQ(comports::Crc16Xmodem(nullptr, 0), 0);
  EXPECT_EQ(comports::Crc32(nullptr, 0), 0u);
}

TEST(HexDump, TwoDigitsAndABlankPerByteCutToTheBuffer) {
  const uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x7b};
  char out[64];
  EXPECT_EQ(comports::PortHexDump(bytes, 4, out, sizeof out), 12);
  EXPECT_STREQ(out, "00 0a ff 7b ");
  char small[5];
  EXPECT_EQ(comports::PortHexDump(bytes, 4, small, sizeof small), 4);
  EXPECT_STREQ(small, "00 0");
  EXPECT_EQ(comports::PortHexDump(bytes, 4, nullptr, 10), comports::kBadBuffer);
}
