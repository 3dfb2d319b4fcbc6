#include "dsu/p3_decoder.h"

#include <algorithm>
#include <cstdlib>

#include "dsu/debug_log.h"
#include "dsu/session_state.h"
#include "telvaris.h"

namespace dsu {
namespace {

constexpr uint8_t kFrameMarker = 0x80;

inline int32_t asSigned(uint8_t byte) { return static_cast<int8_t>(byte); }

// One pair of channels from L0, L1 and H; H with the frame marker (or the
// last high-bits byte of a 50-byte group) is masked to bits 4-6 for the
// even channel, any other H is taken shifted as it stands.
template <bool kMasked>
inline void unpackPair(const uint8_t* group, int32_t& even, int32_t& odd) {
  const uint8_t high = group[2];
  const int32_t evenHigh = kMasked ? (high >> 4) & 0x07 : asSigned(high) >> 4;
  even = evenHigh * 128 + asSigned(group[0]);
  odd = (high & 0x0F) * 128 + asSigned(group[1]);
}

// Up to eight channels from the pairs at `data` (the packet's byte 2, or a
// 50-byte packet's group); the last pair's high-bits byte is masked.
template <int kPairs>
inline void unpackGroup(const uint8_t* data, int32_t* out) {
  for (int k = 0; k < kPairs - 1; ++k) unpackPair<false>(data + 3 * k, out[2 * k], out[2 * k + 1]);
  unpackPair<true>(data + 3 * (kPairs - 1), out[2 * kPairs - 2], out[2 * kPairs - 1]);
}

template <int kLength>
inline void unpackPacket(const uint8_t* packet, int32_t* channels) {
  if constexpr (kLength == 50) {
    for (int g = 0; g < 4; ++g) unpackGroup<4>(packet + 2 + 12 * g, channels + 8 * g);
  } else {
    unpackGroup<(kLength - 2) / 3>(packet + 2, channels);
  }
}

// Channels of one packet straight into the store's arrays at entry `w`
// (dest[c] is channel c's array).
template <int kLength>
inline void storeChannels(const uint8_t* packet, int32_t* const* dest, int32_t w) {
  constexpr int kGroups = kLength == 50 ? 4 : 1;
  constexpr int kPairs = kLength == 50 ? 4 : (kLength - 2) / 3;
  for (int g = 0; g < kGroups; ++g) {
    const uint8_t* group = packet + 2 + 12 * g;
    for (int k = 0; k < kPairs; ++k) {
      int32_t even, odd;
      if (k == kPairs - 1) {
        unpackPair<true>(group + 3 * k, even, odd);
      } else {
        unpackPair<false>(group + 3 * k, even, odd);
      }
      dest[8 * g + 2 * k][w] = even;
      dest[8 * g + 2 * k + 1][w] = odd;
    }
  }
}

// The decoder's loop for one packet length. Entries are written straight
// into the store's arrays; channels the length does not carry stay as the
// zero-filled allocation left them. Packets go in runs of up to kRun whose
// frame markers are in place; writeIndex moves on after each run, once its
// entries are whole.
template <int kLength>
int32_t decodeRun(ByteRun& run, DecodedStore& store, DecodeTally& tally, std::atomic<int32_t>& button) {
  constexpr size_t n = kLength;
  constexpr int kCarried = kLength == 50 ? 32 : 2 * ((kLength - 2) / 3);
  constexpr int32_t kRun = 256;
  uint8_t* const base = run.base;
  const size_t end = run.writeEnd;
  size_t parse = run.parse;
  int32_t w = store.writeIndex.load(std::memory_order_relaxed);  // the decoder is its only writer
  const int32_t capacity = store.capacity;
  int32_t* const counters = store.slots[0];
  int32_t* const aux = store.slots[1];
  int32_t* channels[kCarried];
  for (int c = 0; c < kCarried; ++c) channels[c] = store.slots[2 + static_cast<size_t>(c)];
  const int32_t decodedBefore = tally.packetsDecoded.load(std::memory_order_relaxed);
  int32_t decoded = 0;
  int32_t result = kDecodeDone;

  while (end - parse >= n) {
    if ((base[parse + n - 1] & kFrameMarker) == 0) {
      tally.positioningErrors.fetch_add(1, std::memory_order_relaxed);
      log("Positioning error at %#08x\n", static_cast<unsigned>(parse));
      size_t i = parse;
      while (i < end && (base[i] & kFrameMarker) == 0) ++i;
      parse = i < end ? i + 1 : end;
      continue;  // the landing place is checked like any other
    }
    if (w >= capacity) {
      result = kDecodeStoreFull;
      break;
    }
    if (button.load(std::memory_order_relaxed) != 0 && button.exchange(0) != 0) {
      log("Manual Button inserted at Packet %d\n", decodedBefore + decoded + 1);
      base[parse + 1] = 0xFF;
    }
    // The whole packets ahead, as many as the store and the run take; the
    // first one's marker is checked above, each next one's here.
    const size_t whole = (end - parse) / n;
    const int32_t room = std::min(capacity - w, kRun);
    const int32_t count = whole < static_cast<size_t>(room) ? static_cast<int32_t>(whole) : room;
    const uint8_t* p = base + parse;
    int32_t i = 0;
    do {
      counters[w + i] = asSigned(p[0]) >> 1;
      aux[w + i] = asSigned(p[1]);
      storeChannels<kLength>(p, channels, w + i);
      ++i;
      p += n;
    } while (i < count && (p[n - 1] & kFrameMarker) != 0);
    w += i;
    parse += static_cast<size_t>(i) * n;
    decoded += i;
    store.writeIndex.store(w, std::memory_order_release);
  }
  tally.packetsDecoded.fetch_add(decoded, std::memory_order_relaxed);
  run.parse = parse;
  return result;
}

}  // namespace

bool knownPacketLength(int32_t length) { return channelsCarried(length) > 0; }

int32_t channelsCarried(int32_t length) {
  switch (length) {
    case 5:
      return 2;
    case 8:
      return 4;
    case 11:
      return 6;
    case 14:
      return 8;
    case 50:
      return 32;
    default:
      return 0;
  }
}

int32_t packetCounter(uint8_t counterByte) { return asSigned(counterByte) >> 1; }
int32_t auxiliaryValue(uint8_t auxByte) { return asSigned(auxByte); }

void decodeStandalone(const uint8_t* packet, int32_t length, int32_t* channels, int32_t* counterOut, int32_t* auxOut) {
  if (!packet) return;
  if (counterOut) *counterOut = packetCounter(packet[0]);
  if (auxOut) *auxOut = auxiliaryValue(packet[1]);
  if (!channels) return;
  int32_t values[kP3Channels] = {};
  switch (length) {
    case 5:
      unpackPacket<5>(packet, values);
      break;
    case 8:
      unpackPacket<8>(packet, values);
      break;
    case 11:
      unpackPacket<11>(packet, values);
      break;
    case 14:
      unpackPacket<14>(packet, values);
      break;
    case 50:
      unpackPacket<50>(packet, values);
      break;
    default:
      return;
  }
  const int32_t filled = length == 50 ? 32 : 8;
  for (int32_t c = 0; c < filled; ++c) channels[c] = values[c];
}

bool DecodedStore::allocate(int32_t packets) noexcept {
  release();
  if (packets <= 0) return false;
  for (auto& slot : slots) {
    slot = static_cast<int32_t*>(std::calloc(static_cast<size_t>(packets), sizeof(int32_t)));
    if (!slot) {
      release();
      return false;
    }
  }
  capacity = packets;
  writeIndex = 0;
  readIndex = 0;
  return true;
}

void DecodedStore::release() noexcept {
  // Readers find nothing before the arrays go.
  writeIndex = 0;
  readIndex = 0;
  capacity = 0;
  for (auto& slot : slots) {
    std::free(slot);
    slot = nullptr;
  }
}

int32_t decodeP3(ByteRun& run, int32_t length, DecodedStore& store, DecodeTally& tally, std::atomic<int32_t>& button) {
  switch (length) {
    case 5:
      return decodeRun<5>(run, store, tally, button);
    case 8:
      return decodeRun<8>(run, store, tally, button);
    case 11:
      return decodeRun<11>(run, store, tally, button);
    case 14:
      return decodeRun<14>(run, store, tally, button);
    case 50:
      return decodeRun<50>(run, store, tally, button);
    default:
      return kDecodeUnknownLength;
  }
}

int32_t getP3Data(int32_t* channels, int32_t count, int32_t* formatOut, int32_t* counterOut, int32_t* auxOut) {
  SessionState& s = sessionState();
  if (formatOut) *formatOut = 1;
  auto none = [&](int32_t result) {
    if (counterOut) *counterOut = -1;
    return result;
  };
  if (s.dsuStatus != kSystemOk) return none(TLV_P3_NOT_RUNNING);
  const int32_t written = s.store.writeIndex.load(std::memory_order_acquire);
  if (written == 0) return none(TLV_P3_NOTHING_DECODED);
  const int32_t r = s.store.readIndex;
  if (r < 0 || r >= written) return none(TLV_P3_NO_NEW_PACKET);
  const int32_t n = count < 0 ? 0 : (count > kP3Channels ? kP3Channels : count);
  if (n > 0 && !channels) return TLV_P3_BAD_ARGUMENT;
  const auto& slots = s.store.slots;
  if (counterOut) *counterOut = slots[0][r];
  if (auxOut) *auxOut = slots[1][r];
  for (int32_t c = 0; c < n; ++c) channels[c] = slots[2 + static_cast<size_t>(c)][r];
  s.store.readIndex = r + 1;
  return TLV_P3_OK;
}

int32_t setManualButton() {
  if (sessionState().monitorMode == 1) {
    log("Invalid attempt to insert button in Monitor Mode\n");
    return TLV_BUTTON_MONITOR_MODE;
  }
  sessionState().buttonRequest = 1;
  return TLV_BUTTON_REQUESTED;
}

int32_t currentPacketNumber() { return sessionState().store.readIndex; }

void setPacketNumber(int32_t value) { sessionState().store.readIndex = value; }

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL GetP3Data(int32_t* channels, int32_t count, int32_t* formatOut, int32_t* counterOut,
                                   int32_t* auxOut) {
  return dsu::getP3Data(channels, count, formatOut, counterOut, auxOut);
}

TLV_API int32_t TLV_CALL StandaloneDecodeP3Packet(int32_t* channels, const uint8_t* packet, int32_t length,
                                                  int32_t* counterOut, int32_t* auxOut) {
  dsu::decodeStandalone(packet, length, channels, counterOut, auxOut);
  return 0;
}

TLV_API int32_t TLV_CALL CurrentPacketNumber(int32_t /*reserved*/) { return dsu::currentPacketNumber(); }

TLV_API int32_t TLV_CALL SetPacketNumber(int32_t /*reserved*/, int32_t value) {
  dsu::setPacketNumber(value);
  return 0;
}

TLV_API int32_t TLV_CALL SetManualButton(int32_t /*reserved*/, int32_t /*reserved2*/) { return dsu::setManualButton(); }

}  // extern "C"
