// The command line of telvaris-session: one command (record, info, export,
// plot) and its options, read without touching the library, so that a
// mistake is reported before anything starts.
#pragma once

#include <string>
#include <vector>

#include "p3_packet.h"

namespace session_tool {

enum class Road { kNone, kSerial, kTcp, kMqtt, kRelay };

struct Options {
  std::string command;  // "record", "info", "export", "plot", or empty for the overview
  bool help = false;

  // record
  Road road = Road::kNone;
  int com = 0;
  std::string tcpHost = "127.0.0.1";
  int tcpPort = 0;
  std::string brokerAddress;  // tcp://host, the URI without its port
  int brokerPort = 1883;
  std::string publishTopic, subscribeTopic, user;
  std::string words[3];  // relay: the first, second and last word of its start and stop messages
  bool monitor = false;  // relay: "monitor/..." instead of "start/..."
  double seconds = 0;
  int minutes = 0;  // storage; 0: from the recording time
  double waitSeconds = 40;
  std::string logPath;
  bool force = false;

  // every command
  int length = 14;
  int rate = 256;

  // plot
  std::vector<int> channels;  // empty: those the packet length carries, at most 8
  double from = 0;
  double to = -1;  // negative: the end of the recording
  int width = 1200, height = 800;

  std::vector<std::string> files;  // the session file, then the CSV or PNG file
};

// Reads argv[1..]. Returns an empty string when the options hold together,
// else a one-line message naming what is wrong.
std::string parseCommandLine(int argc, const char* const* argv, Options& out);

// The usage text of `command` (empty: the overview).
const char* usageText(const std::string& command);

// "0,2,5-7" as channel numbers 0 to 31, in the order given. False for
// anything else.
bool parseChannels(const std::string& text, std::vector<int>& out);

// Channels a packet of `length` bytes carries: 2, 4, 6, 8 or 32; 0 for an
// unknown length (the P3 layout's own table).
inline int channelsCarried(int length) { return p3synth::channelsForLength(length); }

}  // namespace session_tool
