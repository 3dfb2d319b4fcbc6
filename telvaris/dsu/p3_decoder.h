// P3 packets: unpacking one packet, and the session decoder that frames a
// run of received bytes into packets and stores their values in the
// decoded packet store.
//
// A packet of n bytes (5, 8, 11, 14 or 50) is the counter byte (the packet
// counter in bits 1-6), the auxiliary byte (0xFF marks a manual button
// press), then one group of three bytes per pair of channels: low seven
// bits of the even channel, low seven bits of the odd channel, and a
// high-bits byte (bits 4-6 for the even channel, 0-3 for the odd one). The
// last byte of a packet has its top bit set: the frame marker. The 50-byte
// packet carries 32 channels in four groups of twelve bytes. Bytes are
// taken as signed 8-bit values, as the unit's first readers took them: a
// low-bits byte with its top bit set gives a negative sample.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace dsu {

// Slots of the decoded packet store: 0 the packet counter, 1 the
// auxiliary byte, 2 to 33 channels 0 to 31.
constexpr int32_t kP3Slots = 34;
constexpr int32_t kP3Channels = 32;

// 5, 8, 11, 14 and 50.
bool knownPacketLength(int32_t length);
// Channels a packet of `length` carries (2, 4, 6, 8, 32; 0 for another length).
int32_t channelsCarried(int32_t length);

int32_t packetCounter(uint8_t counterByte);
int32_t auxiliaryValue(uint8_t auxByte);

// StandaloneDecodeP3Packet: the counter and auxiliary values, and by
// `length` channels 0-7 (5 to 14 bytes; those not carried set to 0) or
// 0-31 (50 bytes); for any other length only the two values. NULL outputs
// are skipped.
void decodeStandalone(const uint8_t* packet, int32_t length, int32_t* channels, int32_t* counterOut, int32_t* auxOut);

// The decoded packet store: 34 arrays of `capacity` packets each.
// Allocated zero-filled, and each entry is written once (the store only
// grows until it is released), so channels a packet does not carry are
// never written and read as 0.
//
// The decoder (one thread) fills entries and then advances writeIndex;
// readers take entries below writeIndex and own readIndex.
struct DecodedStore {
  std::array<int32_t*, kP3Slots> slots {};
  int32_t capacity = 0;  // 0: not allocated
  std::atomic<int32_t> writeIndex {0};
  std::atomic<int32_t> readIndex {0};

  DecodedStore() = default;
  DecodedStore(const DecodedStore&) = delete;
  DecodedStore& operator=(const DecodedStore&) = delete;
  ~DecodedStore() { release(); }

  // Both indices become 0. False, with nothing allocated, when memory runs out.
  bool allocate(int32_t packets) noexcept;
  void release() noexcept;
  bool allocated() const { return capacity > 0; }
};

// The bytes the decoder runs over: base[parse .. writeEnd).
struct ByteRun {
  uint8_t* base = nullptr;
  size_t parse = 0;
  size_t writeEnd = 0;
};

// What decoding counts, across calls.
struct DecodeTally {
  std::atomic<int32_t> packetsDecoded {0};
  std::atomic<int32_t> positioningErrors {0};
};

enum DecodeResult : int32_t {
  kDecodeDone = 0,            // every complete packet decoded; a partial one waits for more bytes
  kDecodeUnknownLength = -1,  // nothing done
  kDecodeStoreFull = 1,       // the store holds `capacity` packets; the rest waits undecoded
};

// Decodes every complete packet of `run` into `store`, advancing run.parse.
// A packet whose frame marker is missing costs a positioning error (counted
// and logged with its offset): the decoder steps to just after the next
// byte with its top bit set, and checks the packet it lands on the same
// way, so misaligned bytes are never decoded as a packet. A pending button
// request (`button` non-zero) is taken by the next packet decoded: 0xFF is
// written into its auxiliary byte in `run` (so a saved session carries the
// mark) and logged.
int32_t decodeP3(ByteRun& run, int32_t length, DecodedStore& store, DecodeTally& tally, std::atomic<int32_t>& button);

// The session's packets, one at a time (telvaris.h: GetP3Data,
// CurrentPacketNumber, SetPacketNumber, SetManualButton).
int32_t getP3Data(int32_t* channels, int32_t count, int32_t* formatOut, int32_t* counterOut, int32_t* auxOut);
int32_t currentPacketNumber();
void setPacketNumber(int32_t value);
int32_t setManualButton();

}  // namespace dsu
