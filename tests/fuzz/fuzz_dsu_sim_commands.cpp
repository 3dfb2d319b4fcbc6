// The DSU simulator's command parser: bytes from the library on the serial
// line, cut into pieces as reads deliver them. Frames come out the same
// whatever the pieces, none longer than 64 bytes or holding a frame end, and
// the unit answers a read with exactly one reply frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 16;
  ++data;
  --size;

  std::vector<std::string> whole, pieces;
  dsusim::FrameParser once;
  once.feed(data, size, whole);
  dsusim::FrameParser bitByBit;
  for (size_t at = 0; at < size; at += piece) bitByBit.feed(data + at, size - at < piece ? size - at : piece, pieces);
  fuzzsupport::require(whole == pieces, "frames do not depend on how the bytes arrive");

  dsusim::Unit unit;
  for (const std::string& frame : whole) {
    fuzzsupport::require(!frame.empty() && frame.size() <= 64, "a frame holds 1 to 64 bytes");
    fuzzsupport::require(frame.find('\n') == std::string::npos, "a frame holds no frame end");
    const dsusim::Outcome outcome = unit.handle(frame);
    if (!outcome.reply.empty() && frame.size() == 4 && frame[0] == 'R') {
      fuzzsupport::require(outcome.reply.size() == 8 && outcome.reply[0] == '\x02' && outcome.reply[1] == 'A' &&
                               outcome.reply.compare(2, 3, frame, 1, 3) == 0 && outcome.reply[7] == '\n',
                           "a read is answered 0x02 'A' r r r v v 0x0A");
    }
    const int length = unit.packetLength();
    fuzzsupport::require(length == 5 || length == 8 || length == 11 || length == 14 || length == 50,
                         "the unit's packets keep a known length");
  }
  return 0;
}
