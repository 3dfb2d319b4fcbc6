// Session files and the P3 decoder: a file as a recording (or anything
// else) left it, loaded with LoadSession under a one-minute recording
// length; the same bytes also go through the session decoder in the pieces
// a read thread would hand it, into a store of a few packets. The first
// byte picks the packet length (and, for the pieces, their size and a button
// request); the rest is the file.
//
// Whatever the bytes, a load succeeds with at most as many packets as the
// file holds whole and the store takes, each of them handed out once with
// a counter of -64..63, and nothing in a channel its length does not carry;
// the decoder never moves past the bytes it was given nor fills the store
// past its end.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dsu/p3_decoder.h"
#include "fuzz_support.h"
#include "telvaris.h"

namespace {

constexpr int32_t kLengths[] = {5, 8, 11, 14, 50};
constexpr int32_t kPacketsAMinute = 15360;
constexpr int32_t kSmallStore = 40;

void loadAsSessionFile(const uint8_t* data, size_t size, int32_t length) {
  static const std::string path = fuzzsupport::scratchFile("session.raw");
  fuzzsupport::writeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  SetDSUPacketLength(0, length);
  fuzzsupport::require(LoadSession(path.c_str()) == TLV_LOAD_OK, "a session file loads");
  const int32_t packets = PacketsInBuffer(0);
  fuzzsupport::require(packets >= 0 && packets <= kPacketsAMinute && static_cast<size_t>(packets) <= size / length,
                       "no more packets than the file holds whole and the store takes");
  const int32_t carried = dsu::channelsCarried(length);
  int32_t channels[32];
  int32_t format = 0, counter = 0, aux = 0, taken = 0;
  for (;;) {
    std::memset(channels, 0x55, sizeof channels);
    const int32_t result = GetP3Data(channels, 32, &format, &counter, &aux);
    if (result != 0) {
      fuzzsupport::require(result == TLV_P3_NO_NEW_PACKET || (result == TLV_P3_NOTHING_DECODED && packets == 0),
                           "the packets end with no new packet");
      break;
    }
    ++taken;
    fuzzsupport::require(counter >= -64 && counter <= 63, "a packet counter is -64..63");
    fuzzsupport::require(aux >= -128 && aux <= 127, "an auxiliary value is one signed byte");
    for (int32_t c = carried; c < 32; ++c) fuzzsupport::require(channels[c] == 0, "channels not carried are 0");
  }
  fuzzsupport::require(taken == packets, "every packet is handed out once");
  CleanUpLoadedSession();
}

void decodeInPieces(const uint8_t* data, size_t size, int32_t length, size_t piece, bool button) {
  std::vector<uint8_t> bytes(data, data + size);
  dsu::DecodedStore store;
  fuzzsupport::require(store.allocate(kSmallStore), "a small store can be had");
  dsu::DecodeTally tally;
  std::atomic<int32_t> request {button ? 1 : 0};
  dsu::ByteRun run {bytes.data(), 0, 0};
  while (run.writeEnd < size) {
    run.writeEnd = std::min(size, run.writeEnd + piece);
    const int32_t result = dsu::decodeP3(run, length, store, tally, request);
    fuzzsupport::require(result == dsu::kDecodeDone || result == dsu::kDecodeStoreFull, "a known length decodes");
    fuzzsupport::require(run.parse <= run.writeEnd, "the decoder stays inside the bytes it has");
    fuzzsupport::require(store.writeIndex >= 0 && store.writeIndex <= kSmallStore, "the store never overflows");
    fuzzsupport::require(tally.packetsDecoded == store.writeIndex, "each packet decoded is stored");
    if (result == dsu::kDecodeStoreFull) {
      fuzzsupport::require(store.writeIndex == kSmallStore, "only a full store stops decoding");
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetRecordingLength(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t how = data[0];
  const int32_t length = kLengths[how % 5];
  ++data;
  --size;
  loadAsSessionFile(data, size, length);
  decodeInPieces(data, size, length, 1 + (how / 5) % 48, (how & 0x80) != 0);
  return 0;
}
