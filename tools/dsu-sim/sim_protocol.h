// The DSU's side of its serial protocol, as the simulator plays it: command
// frames out of the received bytes, and the unit's answer to each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dsusim {

// Frames end with 0x0A. A frame's text is what came since the last start
// byte (0x02: single-step framing and the signals; 0x01: burst framing) or
// the last 0x0A, whichever is later: so an early version 3 unit's signal,
// 0x0A 'N' 'O' ' ' 'C' 0x0A, reads as an empty frame and "NO C", and noise
// before a start byte is dropped. A frame longer than 64 bytes is dropped
// whole.
class FrameParser {
 public:
  // Appends the text of every frame that `bytes` completes to `frames`
  // (empty frames are left out). Frames may arrive in any pieces.
  void feed(const uint8_t* bytes, size_t count, std::vector<std::string>& frames);

 private:
  std::string current_;
  bool tooLong_ = false;
};

enum class Action { kNone, kStartStream, kStopStream, kReconfigured };

struct Outcome {
  Action action = Action::kNone;
  std::string reply;  // bytes to send back
  std::string note;   // what happened, in words
};

// The unit: active channels, sample rate and the stored registers.
//
// Registers are three characters, values two: "971" the active channels
// ('0'..'3' in the second character: 2, 4, 6, 8 channels; 5, 8, 11, 14-byte
// packets), "9A0" the sample rate ('8' 256, '4' 512, '2' 1024, '1' 2048
// samples a second); "A00" and "A01" are kept as written and read back as
// they stand (the stored channel setting and the protocol share A00, the
// stored rate and the time base A01). "Wrrrvv" writes, "Rrrr" reads; the
// answer to a read is 0x02 'A' r r r v v 0x0A, so that byte 1 is 'A', byte
// 2 the register's first character and bytes 5 and 6 the value. Writes are
// not answered. "RING" starts the stream, "NO C..." stops it, "IDENT"
// answers the identification text. Anything else is ignored.
class Unit {
 public:
  static constexpr const char* kDefaultIdent = "dsu-sim DSU simulator (P3 stream)";

  Unit(int packetLength = 14, int sampleRate = 256, std::string ident = kDefaultIdent);

  Outcome handle(const std::string& frame);

  int packetLength() const { return packetLength_; }
  int sampleRate() const { return sampleRate_; }
  // A register's value as the unit holds it ("00" when never written).
  std::string registerValue(const std::string& name) const;

 private:
  int packetLength_;
  int sampleRate_;
  std::string ident_;
  std::map<std::string, std::string> registers_;
};

}  // namespace dsusim
