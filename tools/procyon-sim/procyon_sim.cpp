// procyon-sim: stands in for the Procyon audio-visual entrainment device.
//
// It makes a pseudo-terminal and links it as COM<N> of the library's root
// ($TELVARIS_ROOT/dosdevices/com<N>), so that the library's Procyon
// exports talk to it as to the device on a serial port. Each packet it
// gets (0xA3, class, length, payload, 16-bit sum high byte first) is
// printed in words on standard output and answered with six bytes
// A3 34 06 <status> <sum>: status A1 when the packet is whole and its sum
// right, E1 otherwise. Ends on SIGINT or SIGTERM and removes its link.
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/pseudo_terminal.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void usage(FILE* to) {
  std::fputs(
      "usage: procyon-sim --com N\n"
      "Stands in for the Procyon AVE device on COM<N> of $TELVARIS_ROOT: prints each packet it\n"
      "gets and answers it as the device does. Ctrl+C ends it.\n",
      to);
}

constexpr uint8_t kStart = 0xA3;
constexpr double kLightModifier = 32.768;
constexpr double kSoundModifier = 4.096;

uint16_t sum(const std::vector<uint8_t>& bytes, size_t count) {
  unsigned total = 0;
  for (size_t i = 0; i < count; ++i) total += bytes[i];
  return static_cast<uint16_t>(total);
}

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The rate a code stands for: mantissa / 2^exponent / modifier.
double rateOf(uint16_t code, double modifier) { return std::ldexp(code & 0xFFF, -(code >> 12)) / modifier; }

std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string out;
  char item[4];
  for (uint8_t b : bytes) {
    std::snprintf(item, sizeof item, "%02X ", b);
    out += item;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string describe(const std::vector<uint8_t>& p) {
  char text[200];
  const uint8_t kind = p[1];
  if (kind == 0x33) {
    if (p == std::vector<uint8_t>{0xA3, 0x33, 0x06, 0x14, 0x00, 0xF0}) return "stop";
    if (p == std::vector<uint8_t>{0xA3, 0x33, 0x07, 0x1C, 0x01, 0x00, 0xFA}) return "start-up 2";
    if (p == std::vector<uint8_t>{0xA3, 0x33, 0x06, 0x1A, 0x00, 0xF6}) return "start-up 3";
    return "control " + hexOf(p);
  }
  if (kind == 0x31 && p.size() == 63) {
    std::snprintf(text, sizeof text, "initial segment: light %.2f Hz, sound %.2f Hz",
                  rateOf(wordAt(p, 13), kLightModifier), rateOf(wordAt(p, 25), kSoundModifier));
    return text;
  }
  if (kind == 0x30 && p.size() == 8) {
    const uint8_t function = p[3];
    const uint16_t value = wordAt(p, 4);
    std::snprintf(text, sizeof text, "function %u value 0x%04X", function, value);
    std::string line = text;
    if (function <= 9 || (function >= 96 && function <= 99)) {
      std::snprintf(text, sizeof text, " (rate code: %.2f Hz as light, %.2f Hz as sound)",
                    rateOf(value, kLightModifier), rateOf(value, kSoundModifier));
      line += text;
    }
    return line;
  }
  return "packet " + hexOf(p);
}

void answer(int fd, bool ok) {
  std::vector<uint8_t> reply{kStart, 0x34, 0x06, static_cast<uint8_t>(ok ? 0xA1 : 0xE1)};
  const uint16_t total = sum(reply, reply.size());
  reply.push_back(static_cast<uint8_t>(total >> 8));
  reply.push_back(static_cast<uint8_t>(total));
  if (write(fd, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) {
    std::fprintf(stderr, "procyon-sim: the answer did not go out\n");
  }
}

// Takes whole packets off the front of `pending`, prints and answers them.
void handle(int fd, std::vector<uint8_t>& pending) {
  for (;;) {
    size_t stray = 0;
    while (stray < pending.size() && pending[stray] != kStart) ++stray;
    if (stray > 0) {
      std::printf("skipped %zu stray byte(s)\n", stray);
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(stray));
    }
    if (pending.size() < 3) return;
    const size_t length = pending[2];
    if (length < 5) {
      std::printf("bad length %zu\n", length);
      answer(fd, false);
      pending.erase(pending.begin());
      continue;
    }
    if (pending.size() < length) return;
    const std::vector<uint8_t> packet(pending.begin(), pending.begin() + static_cast<long>(length));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
    const bool ok = sum(packet, length - 2) == wordAt(packet, length - 2);
    std::printf("%s%s\n", describe(packet).c_str(), ok ? "" : " (bad checksum)");
    answer(fd, ok);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int com = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--com" && i + 1 < argc) {
      com = std::atoi(argv[++i]);
    } else {
      usage(stderr);
      return 2;
    }
  }
  if (com < 1) {
    usage(stderr);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const std::string root = platform::telvarisRoot();
  std::optional<platform::PseudoTerminal> wire;
  try {
    wire.emplace();
    wire->linkAsCom(root, com);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "procyon-sim: %s\n", e.what());
    return 1;
  }
  const int nearEnd = wire->nearFd();
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::printf("procyon-sim: the device is on COM%d (%s)\n", com, wire->farPath().c_str());

  std::vector<uint8_t> pending;
  while (!g_stop) {
    pollfd p{nearEnd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0 || !(p.revents & POLLIN)) continue;
    uint8_t chunk[512];
    const ssize_t got = read(nearEnd, chunk, sizeof chunk);
    if (got <= 0) continue;
    pending.insert(pending.end(), chunk, chunk + got);
    handle(nearEnd, pending);
  }
  std::error_code ignored;
  std::filesystem::remove(platform::comLinkPath(root, com), ignored);
  std::printf("procyon-sim: stopped\n");
  return 0;
}
