// P3 decoding: single packets of every length (the worked example's bytes
// by hand, the rest against the stand-ins' encoder), and the session
// decoder over streams that start mid-packet, carry noise, end exactly on a
// packet, arrive in pieces, fill the store or take a button mark.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsu/p3_decoder.h"
#include "dsu_link_support.h"
#include "p3_samples.h"
#include "telvaris.h"

namespace {

using dsutest::Decoded;
using dsutest::expectedSample;
using dsutest::samplePackets;

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// A store of its own, and the decoder run over one buffer.
struct Decoder {
  dsu::DecodedStore store;
  dsu::DecodeTally tally;
  std::atomic<int32_t> button {0};
  std::vector<uint8_t> bytes;
  dsu::ByteRun run;

  explicit Decoder(int32_t capacity) { EXPECT_TRUE(store.allocate(capacity)); }
  // Appends `more` and decodes what is complete.
  int32_t feed(const std::string& more, int32_t length) {
    // The buffer may move: positions are offsets.
    bytes.insert(bytes.end(), more.begin(), more.end());
    run.base = bytes.data();
    run.writeEnd = bytes.size();
    return dsu::decodeP3(run, length, store, tally, button);
  }
  std::vector<Decoded> packets() const {
    std::vector<Decoded> out;
    for (int32_t i = 0; i < store.writeIndex; ++i) {
      Decoded d;
      d.counter = store.slots[0][i];
      d.aux = store.slots[1][i];
      for (int c = 0; c < 32; ++c) d.channels.push_back(store.slots[2 + static_cast<size_t>(c)][i]);
      out.push_back(d);
    }
    return out;
  }
};

std::vector<Decoded> samples(int length, std::vector<int> ks) {
  std::vector<Decoded> out;
  for (int k : ks) out.push_back(expectedSample(length, k));
  return out;
}

TEST(P3Packet, EveryLengthUnpacksAsTheUnitPacksIt) {
  // The worked example, by hand: the last pair's high bits 0xF7 give 7 and 7.
  const std::vector<uint8_t> worked = {0x7E, 0x00, 0x05, 0x06, 0x21, 0x07, 0x08,
                                       0x43, 0x09, 0x0A, 0x65, 0x0B, 0x0C, 0xF7};
  std::vector<int32_t> channels(32, -7);
  int32_t counter = 0, aux = 5;
  EXPECT_EQ(StandaloneDecodeP3Packet(channels.data(), worked.data(), 14, &counter, &aux), 0);
  EXPECT_EQ(std::vector<int32_t>(channels.begin(), channels.begin() + 8),
            (std::vector<int32_t> {261, 134, 519, 392, 777, 650, 907, 908}));
  EXPECT_EQ(channels[8], -7);  // 8 entries for lengths up to 14
  EXPECT_EQ(counter, 63);
  EXPECT_EQ(aux, 0);

  // Counter 0x01 is packet 0; an auxiliary 0xFF is a button press, -1.
  const std::vector<uint8_t> five = {0x01, 0xFF, 0x05, 0x06, 0xA1};
  channels.assign(32, -7);
  StandaloneDecodeP3Packet(channels.data(), five.data(), 5, &counter, &aux);
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(aux, -1);
  EXPECT_EQ(std::vector<int32_t>(channels.begin(), channels.begin() + 9),
            (std::vector<int32_t> {261, 134, 0, 0, 0, 0, 0, 0, -7}));

  // Each length against the stand-ins' encoder, extremes included.
  for (int length : {5, 8, 11, 14, 50}) {
    for (int k : {0, 1, 511, 1023}) {
      const std::vector<uint8_t> packet = bytesOf(samplePackets(length, k + 1).substr(static_cast<size_t>(k * length)));
      channels.assign(32, -7);
      StandaloneDecodeP3Packet(channels.data(), packet.data(), length, &counter, &aux);
      const Decoded want = expectedSample(length, k);
      const size_t filled = length == 50 ? 32 : 8;
      EXPECT_EQ(std::vector<int32_t>(channels.begin(), channels.begin() + static_cast<long>(filled)),
                std::vector<int32_t>(want.channels.begin(), want.channels.begin() + static_cast<long>(filled)))
          << "length " << length << ", packet " << k;
      EXPECT_EQ(counter, want.counter);
    }
  }
  const std::vector<uint8_t> top = bytesOf(dsutest::encode(50, 0, 0, std::vector<int32_t>(32, 2047)));
  StandaloneDecodeP3Packet(channels.data(), top.data(), 50, &counter, &aux);
  for (int c = 0; c < 32; ++c) EXPECT_EQ(channels[static_cast<size_t>(c)], c % 2 ? 2047 : 1023) << c;

  // Another length: the counter and auxiliary values only.
  channels.assign(32, -7);
  counter = aux = 99;
  EXPECT_EQ(StandaloneDecodeP3Packet(channels.data(), worked.data(), 20, &counter, &aux), 0);
  EXPECT_EQ(counter, 63);
  EXPECT_EQ(aux, 0);
  EXPECT_EQ(channels, std::vector<int32_t>(32, -7));
}

TEST(P3Stream, FramingIsFoundAgainAndNoMisalignedPacketIsDecoded) {
  const std::string ten = samplePackets(14, 10);

  // Starting mid-packet: one positioning error, then clean from the packet
  // after the next frame marker.
  Decoder late(64);
  EXPECT_EQ(late.feed(ten.substr(5), 14), dsu::kDecodeDone);
  EXPECT_EQ(late.tally.positioningErrors, 1);
  EXPECT_EQ(late.packets(), samples(14, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(late.tally.packetsDecoded, 9);

  // Ending exactly on a packet: the last one is decoded too; bytes that
  // come in pieces wait until their packet is whole.
  Decoder pieces(64);
  for (size_t at = 0; at < ten.size(); at += 9) pieces.feed(ten.substr(at, 9), 14);
  EXPECT_EQ(pieces.packets(), samples(14, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(pieces.run.parse, ten.size());
  EXPECT_EQ(pieces.tally.positioningErrors, 0);

  // Noise between packets 3 and 4, one noise byte with its top bit set:
  // resynchronising lands on 0x22 (an error), the check there fails too (a
  // second error), and the next landing is packet 5. Packet 4 is lost; no
  // packet is made of misaligned bytes.
  Decoder noisy(64);
  noisy.feed(ten.substr(0, 4 * 14) + "\x11\x9C\x22" + ten.substr(4 * 14), 14);
  EXPECT_EQ(noisy.tally.positioningErrors, 2);
  EXPECT_EQ(noisy.packets(), samples(14, {0, 1, 2, 3, 5, 6, 7, 8, 9}));

  // A length the decoder does not know: nothing done.
  Decoder unknown(64);
  EXPECT_EQ(unknown.feed(ten, 20), dsu::kDecodeUnknownLength);
  EXPECT_EQ(unknown.run.parse, 0u);
  EXPECT_EQ(unknown.store.writeIndex, 0);
}

TEST(P3Stream, AButtonMarkAndAFullStore) {
  const std::string six = samplePackets(8, 6);
  Decoder marked(4);
  marked.feed(six.substr(0, 16), 8);
  marked.button = 1;
  // The mark goes to the next packet, in the store and in the bytes (a
  // saved session carries it), and only to that one.
  EXPECT_EQ(marked.feed(six.substr(16), 8), dsu::kDecodeStoreFull);
  std::vector<Decoded> want = samples(8, {0, 1, 2, 3});
  want[2].aux = -1;
  EXPECT_EQ(marked.packets(), want);
  EXPECT_EQ(marked.bytes[2 * 8 + 1], 0xFF);
  EXPECT_EQ(marked.bytes[3 * 8 + 1], 0x00);
  EXPECT_EQ(marked.button, 0);

  // The store held 4: decoding stops at packet 4, whose bytes wait.
  EXPECT_EQ(marked.store.writeIndex, 4);
  EXPECT_EQ(marked.run.parse, 4u * 8);
  EXPECT_EQ(marked.feed("", 8), dsu::kDecodeStoreFull);
  EXPECT_EQ(marked.store.writeIndex, 4);
}

}  // namespace
