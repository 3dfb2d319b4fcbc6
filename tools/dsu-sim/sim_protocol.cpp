#include "sim_protocol.h"

#include <utility>

namespace dsusim {
namespace {

constexpr size_t kLongestFrame = 64;

char channelCode(int length) {
  switch (length) {
    case 5:
      return '0';
    case 8:
      return '1';
    case 11:
      return '2';
    case 14:
      return '3';
    default:
      return '4';  // the 32-channel unit has no code of the four
  }
}

char rateCode(int rate) {
  switch (rate) {
    case 256:
      return '8';
    case 512:
      return '4';
    case 1024:
      return '2';
    case 2048:
      return '1';
    default:
      return '0';
  }
}

std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

void FrameParser::feed(const uint8_t* bytes, size_t count, std::vector<std::string>& frames) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == 0x01 || b == 0x02) {
      current_.clear();
      tooLong_ = false;
    } else if (b == 0x0A) {
      if (!tooLong_ && !current_.empty()) frames.push_back(current_);
      current_.clear();
      tooLong_ = false;
    } else {
      if (current_.size() < kLongestFrame) {
        current_ += static_cast<char>(b);
      } else {
        tooLong_ = true;
      }
    }
  }
}

Unit::Unit(int packetLength, int sampleRate, std::string ident)
    : packetLength_(packetLength), sampleRate_(sampleRate), ident_(std::move(ident)) {
  registers_["971"] = std::string("0") + channelCode(packetLength);
  registers_["9A0"] = std::string("0") + rateCode(sampleRate);
  registers_["A00"] = "08";  // Telvaris protocol
  registers_["A01"] = "08";
}

std::string Unit::registerValue(const std::string& name) const {
  auto it = registers_.find(name);
  return it == registers_.end() ? "00" : it->second;
}

Outcome Unit::handle(const std::string& frame) {
  Outcome out;
  if (frame == "RING") {
    out.action = Action::kStartStream;
    out.note = "RING";
  } else if (frame.rfind("NO C", 0) == 0) {
    out.action = Action::kStopStream;
    out.note = "NO CARRIER";
  } else if (frame == "IDENT") {
    out.reply = ident_;
    out.note = "IDENT: answered '" + ident_ + "'";
  } else if (frame.size() == 4 && frame[0] == 'R') {
    const std::string reg = frame.substr(1);
    const std::string value = registerValue(reg);
    out.reply =
        "\x02"
        "A" +
        reg + value + "\n";
    out.note = frame + ": answered " + reg + " = " + value;
  } else if (frame.size() == 6 && frame[0] == 'W') {
    const std::string reg = frame.substr(1, 3);
    const std::string value = frame.substr(4, 2);
    if (reg == "971") {
      const int lengths[] = {5, 8, 11, 14};
      const char c = value[1];
      if (value[0] != '0' || c < '0' || c > '3') {
        out.note = frame + ": refused (no such channel setting)";
        return out;
      }
      packetLength_ = lengths[c - '0'];
      out.action = Action::kReconfigured;
      out.note = frame + ": " + std::to_string(2 * (c - '0' + 1)) + " channels, " + std::to_string(packetLength_) +
                 "-byte packets";
    } else if (reg == "9A0") {
      int rate = 0;
      switch (value[1]) {
        case '8':
          rate = 256;
          break;
        case '4':
          rate = 512;
          break;
        case '2':
          rate = 1024;
          break;
        case '1':
          rate = 2048;
          break;
        default:
          break;
      }
      if (value[0] != '0' || rate == 0) {
        out.note = frame + ": refused (no such sample rate)";
        return out;
      }
      sampleRate_ = rate;
      out.action = Action::kReconfigured;
      out.note = frame + ": " + std::to_string(rate) + " samples a second";
    } else {
      out.note = frame + ": stored " + reg + " = " + value;
    }
    registers_[reg] = value;
  } else {
    out.note = "unknown command '" + printable(frame) + "'";
  }
  return out;
}

}  // namespace dsusim
