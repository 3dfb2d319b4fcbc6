// P3 packets as the stand-ins make them, read back by the packet layout.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "p3_packet.h"
#include "p3_stream.h"

namespace {

struct Decoded {
  int counter;
  int aux;
  std::vector<int32_t> channels;
};

// The layout read the way a receiver reads it.
Decoded decode(const uint8_t* p, int length) {
  Decoded d {static_cast<int8_t>(p[0]) >> 1, static_cast<int8_t>(p[1]), {}};
  const int groups = length == 50 ? 4 : 1;
  const int pairsPerGroup = length == 50 ? 4 : (length - 2) / 3;
  for (int g = 0; g < groups; ++g) {
    for (int k = 0; k < pairsPerGroup; ++k) {
      const int at = 2 + 12 * g + 3 * k;
      int high = p[at + 2];
      if (at + 2 == length - 1) high &= 0x7F;
      d.channels.push_back(((high >> 4) & 0x07) * 128 + p[at]);
      d.channels.push_back((high & 0x0F) * 128 + p[at + 1]);
    }
  }
  return d;
}

TEST(P3Packet, EncodesTheKnownPacket) {
  const int32_t values[8] = {261, 134, 519, 392, 777, 650, 907, 908};
  uint8_t packet[14] = {};
  ASSERT_TRUE(p3synth::encodePacket(packet, 14, 0, 0, values));
  const uint8_t expected[12] = {0x05, 0x06, 0x21, 0x07, 0x08, 0x43, 0x09, 0x0A, 0x65, 0x0B, 0x0C, 0xF7};
  EXPECT_EQ(std::vector<uint8_t>(packet + 2, packet + 14), std::vector<uint8_t>(expected, expected + 12));
}

TEST(P3Packet, CounterByteHoldsTheCounterAboveBitZero) {
  const int32_t values[8] = {};
  uint8_t packet[14];
  p3synth::encodePacket(packet, 14, 63, 0, values);
  EXPECT_EQ(packet[0], 0x7E);
  p3synth::encodePacket(packet, 14, 0, 0, values);
  EXPECT_EQ(packet[0], 0x00);
  p3synth::encodePacket(packet, 14, 64 + 5, 0, values);
  EXPECT_EQ(decode(packet, 14).counter, 5);
  p3synth::encodePacket(packet, 14, 1, 0xFF, values);
  EXPECT_EQ(decode(packet, 14).aux, -1) << "the button mark";
}

TEST(P3Packet, EveryLengthReadsBackWithOneFrameMarker) {
  std::mt19937 random(7);
  for (const int length : {5, 8, 11, 14, 50}) {
    const int channels = p3synth::channelsForLength(length);
    ASSERT_EQ(channels, length == 50 ? 32 : (length - 2) / 3 * 2);
    for (int round = 0; round < 200; ++round) {
      std::vector<int32_t> values(static_cast<size_t>(channels));
      for (int c = 0; c < channels; ++c) {
        values[static_cast<size_t>(c)] =
            static_cast<int32_t>(random() % static_cast<unsigned>((c % 2 ? p3synth::kMaxOdd : p3synth::kMaxEven) + 1));
      }
      std::vector<uint8_t> packet(static_cast<size_t>(length));
      ASSERT_TRUE(p3synth::encodePacket(packet.data(), length, round, 0, values.data()));
      for (int i = 0; i < length - 1; ++i) ASSERT_EQ(packet[static_cast<size_t>(i)] & 0x80, 0) << "byte " << i;
      ASSERT_EQ(packet.back() & 0x80, 0x80);
      const Decoded d = decode(packet.data(), length);
      EXPECT_EQ(d.counter, round % 64);
      EXPECT_EQ(d.channels, values) << "length " << length;
    }
  }
}

TEST(P3Packet, ValuesOutOfRangeAreClampedAndUnknownLengthsRefused) {
  const int32_t values[8] = {5000, 5000, -3, -3, 1023, 2047, 1024, 2048};
  uint8_t packet[14];
  ASSERT_TRUE(p3synth::encodePacket(packet, 14, 0, 0, values));
  EXPECT_EQ(decode(packet, 14).channels, (std::vector<int32_t> {1023, 2047, 0, 0, 1023, 2047, 1023, 2047}));

  std::array<uint8_t, 64> untouched;
  untouched.fill(0xAA);
  for (const int length : {0, 4, 13, 20, 64}) {
    EXPECT_FALSE(p3synth::encodePacket(untouched.data(), length, 0, 0, values));
    EXPECT_EQ(p3synth::channelsForLength(length), 0);
  }
  EXPECT_EQ(std::set<uint8_t>(untouched.begin(), untouched.end()), std::set<uint8_t> {0xAA});
}

TEST(P3Stream, PacketsCarryMovingSignalsAndARunningCounter) {
  p3synth::P3Stream stream(14, 256);
  std::vector<uint8_t> bytes;
  stream.append(bytes, 100);
  stream.append(bytes, 156);
  ASSERT_EQ(bytes.size(), 256u * 14);
  EXPECT_EQ(stream.packets(), 256u);
  std::vector<std::set<int32_t>> seen(8);
  for (int i = 0; i < 256; ++i) {
    const Decoded d = decode(bytes.data() + 14 * i, 14);
    ASSERT_EQ(d.counter, i % 64);
    ASSERT_EQ(d.aux, 0);
    for (int c = 0; c < 8; ++c) {
      ASSERT_EQ(d.channels[static_cast<size_t>(c)], stream.sample(c, static_cast<uint64_t>(i)));
      ASSERT_GE(d.channels[static_cast<size_t>(c)], 0);
      ASSERT_LE(d.channels[static_cast<size_t>(c)], p3synth::kMaxEven);
      seen[static_cast<size_t>(c)].insert(d.channels[static_cast<size_t>(c)]);
    }
  }
  // A second of every channel spans a good part of the range, and the
  // channels differ from one another.
  for (int c = 0; c < 8; ++c) EXPECT_GT(seen[static_cast<size_t>(c)].size(), 50u) << "channel " << c;
  EXPECT_NE(stream.sample(0, 10), stream.sample(1, 10));
  EXPECT_THROW(p3synth::P3Stream(13, 256), std::invalid_argument);
}

}  // namespace
