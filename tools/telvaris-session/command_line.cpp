#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace session_tool {
namespace {

const char* const kOverview =
    "usage: telvaris-session COMMAND [options] FILE...\n"
    "\n"
    "Records sessions from the DSU through libtelvaris and looks into session\n"
    "files (the bytes exactly as the unit sent them: P3 packets).\n"
    "\n"
    "Commands:\n"
    "  record   record from the DSU for a given time into a session file\n"
    "  info     what a session file holds: packets, framing errors, duration, marks\n"
    "  export   a session file as CSV text, one line a packet\n"
    "  plot     chosen channels over a chosen time span as a PNG picture\n"
    "\n"
    "telvaris-session COMMAND --help tells more. The library is libtelvaris.so\n"
    "beside this program. Exit status: 0 done, 1 failed, 2 bad command line.\n";

const char* const kRecord =
    "usage: telvaris-session record ROAD --seconds S [options] FILE\n"
    "\n"
    "Records S seconds of the DSU's stream into the session file FILE. A line\n"
    "shows the time, packets, packets a second, framing errors and the session's\n"
    "status as it goes. Ctrl+C ends the recording early and keeps what came.\n"
    "\n"
    "Roads (one):\n"
    "  --com N             the serial port COM<N> ($TELVARIS_ROOT/dosdevices/comN when\n"
    "                      that link exists, else /dev/ttyS<N-1>, ...); the library\n"
    "                      tests it first, then the other ports present\n"
    "  --tcp [HOST:]PORT   a TCP/IP server that streams P3 packets (HOST: an IPv4\n"
    "                      address, default 127.0.0.1)\n"
    "  --mqtt URI          an MQTT broker, tcp://HOST[:PORT] (port 1883 by default),\n"
    "    --publish TOPIC   where the start and stop payloads go\n"
    "    --subscribe TOPIC where the packets come from\n"
    "    --user ID         the user id and client identifier (default\n"
    "                      telvaris-session-<process id>)\n"
    "  --relay URI         the relay service's broker, tcp://HOST[:PORT], with\n"
    "                      --publish, --subscribe and --user as for --mqtt, and\n"
    "    --words A,B,C     the words of its messages: start/A/B/USER/C, then\n"
    "                      stop/A/B/USER/C (default: empty words)\n"
    "    --monitor         monitor/A/B/USER/C instead of start/...\n"
    "\n"
    "Options:\n"
    "  --seconds S         how long to record, from the first packet (0.1 to 600000)\n"
    "  --length L          packet length in bytes: 5, 8, 11, 14 or 50 (default 14)\n"
    "  --minutes M         room for M minutes at 256 packets a second (default: the\n"
    "                      recording time and one minute more); a fuller stream ends\n"
    "                      the recording early\n"
    "  --wait S            seconds to wait for the first packet (default 40)\n"
    "  --log FILE          the library's debug log\n"
    "  --force             replace FILE when it exists\n"
    "\n"
    "Example:\n"
    "  telvaris-session record --com 4 --seconds 10 first.session\n";

const char* const kInfo =
    "usage: telvaris-session info [--length L] [--rate R] FILE\n"
    "\n"
    "Reads the session file FILE with the library and tells its packets, framing\n"
    "errors (places where the packets lost their frame), the bytes skipped there,\n"
    "the duration at the packet rate and the manual button marks.\n"
    "\n"
    "  --length L   packet length: 5, 8, 11, 14 or 50 (default 14)\n"
    "  --rate R     packets a second (default 256)\n";

const char* const kExport =
    "usage: telvaris-session export [--length L] FILE CSV\n"
    "\n"
    "Writes the session file FILE as CSV text: a header line \"Line #,PacketCounter,\n"
    "AuxByte,Channel0,...,Channel31\", then one line a packet (AuxByte -1 is a\n"
    "manual button mark; channels the packet length does not carry are 0).\n"
    "\n"
    "  --length L   packet length: 5, 8, 11, 14 or 50 (default 14)\n";

const char* const kPlot =
    "usage: telvaris-session plot [options] FILE PNG\n"
    "\n"
    "Draws channels of the session file FILE over a time span into the picture\n"
    "PNG: one band a channel, each scaled to its own range, the time in seconds\n"
    "below, manual button marks as red lines.\n"
    "\n"
    "  --channels LIST  channels to draw, as 0,2,4-7 (default: those the packet\n"
    "                   length carries, at most the first 8)\n"
    "  --from S         the span's start in seconds (default 0)\n"
    "  --to S           its end (default: the end of the recording)\n"
    "  --size WxH       the picture's size in pixels (default 1200x800; 200x150 to\n"
    "                   10000x10000)\n"
    "  --length L       packet length: 5, 8, 11, 14 or 50 (default 14)\n"
    "  --rate R         packets a second (default 256)\n"
    "\n"
    "Example:\n"
    "  telvaris-session plot --channels 0-3 --from 2 --to 4 first.session first.png\n";

bool toInt(const std::string& text, long low, long high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || n < low || n > high) return false;
  out = static_cast<int>(n);
  return true;
}

bool toNumber(const std::string& text, double low, double high, double& out) {
  char* end = nullptr;
  const double n = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(n) || n < low || n > high) return false;
  out = n;
  return true;
}

bool knownCommand(const std::string& c) { return c == "record" || c == "info" || c == "export" || c == "plot"; }

// "tcp://host:1883" as "tcp://host" and 1883; the port may be left out.
bool splitBrokerUri(const std::string& uri, std::string& address, int& port) {
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos || scheme == 0 || uri.size() == scheme + 3) return false;
  const size_t colon = uri.rfind(':');
  if (colon > scheme + 3 && uri.find(']', colon) == std::string::npos) {
    if (!toInt(uri.substr(colon + 1), 1, 65535, port)) return false;
    address = uri.substr(0, colon);
  } else {
    address = uri;
    port = 1883;
  }
  return true;
}

}  // namespace

bool parseChannels(const std::string& text, std::vector<int>& out) {
  std::vector<int> channels;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t dash = item.find('-');
    int first = 0, last = 0;
    if (dash == std::string::npos) {
      if (!toInt(item, 0, 31, first)) return false;
      last = first;
    } else if (!toInt(item.substr(0, dash), 0, 31, first) || !toInt(item.substr(dash + 1), 0, 31, last) ||
               last < first) {
      return false;
    }
    for (int c = first; c <= last; ++c) channels.push_back(c);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  out = channels;
  return true;
}

const char* usageText(const std::string& command) {
  if (command == "record") return kRecord;
  if (command == "info") return kInfo;
  if (command == "export") return kExport;
  if (command == "plot") return kPlot;
  return kOverview;
}

std::string parseCommandLine(int argc, const char* const* argv, Options& o) {
  o = Options {};
  if (argc < 2) return "no command given (record, info, export or plot; --help tells more)";
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    o.help = true;
    return "";
  }
  if (!knownCommand(first)) return "unknown command '" + first + "' (record, info, export or plot)";
  o.command = first;
  const bool record = o.command == "record", plot = o.command == "plot";
  bool sawSeconds = false;
  std::string mqttUri;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return "";
    }
    if (arg.size() < 2 || arg[0] != '-') {
      o.files.push_back(arg);
      continue;
    }
    if (record && arg == "--force") {
      o.force = true;
      continue;
    }
    if (record && arg == "--monitor") {
      o.monitor = true;
      continue;
    }
    if (i + 1 >= argc) return arg + " needs a value";
    const std::string value = argv[++i];
    const std::string bad = arg + " does not take '" + value + "'";
    if (arg == "--length") {
      if (!toInt(value, 0, 1000000, o.length) || channelsCarried(o.length) == 0)
        return "unknown packet length '" + value + "' (5, 8, 11, 14 or 50)";
    } else if (arg == "--rate" && !record) {
      if (!toInt(value, 1, 100000, o.rate)) return bad + " (1 to 100000 packets a second)";
    } else if (record && arg == "--com") {
      if (o.road != Road::kNone) return "give one road: --com, --tcp, --mqtt or --relay";
      if (!toInt(value, 1, 256, o.com)) return bad + " (a COM number, 1 to 256)";
      o.road = Road::kSerial;
    } else if (record && arg == "--tcp") {
      if (o.road != Road::kNone) return "give one road: --com, --tcp, --mqtt or --relay";
      const size_t colon = value.rfind(':');
      if (colon != std::string::npos) o.tcpHost = value.substr(0, colon);
      // The library keeps 15 characters of address: a dotted IPv4 address.
      if (!toInt(value.substr(colon == std::string::npos ? 0 : colon + 1), 1, 65535, o.tcpPort) || o.tcpHost.empty() ||
          o.tcpHost.size() > 15)
        return bad + " ([HOST:]PORT, HOST an IPv4 address)";
      o.road = Road::kTcp;
    } else if (record && (arg == "--mqtt" || arg == "--relay")) {
      if (o.road != Road::kNone) return "give one road: --com, --tcp, --mqtt or --relay";
      if (!splitBrokerUri(value, o.brokerAddress, o.brokerPort)) return bad + " (tcp://HOST[:PORT])";
      o.road = arg == "--mqtt" ? Road::kMqtt : Road::kRelay;
    } else if (record && arg == "--words") {
      const size_t a = value.find(','), b = a == std::string::npos ? a : value.find(',', a + 1);
      if (b == std::string::npos || value.find(',', b + 1) != std::string::npos || value.find('/') != std::string::npos)
        return bad + " (three words without '/', as A,B,C)";
      o.words[0] = value.substr(0, a);
      o.words[1] = value.substr(a + 1, b - a - 1);
      o.words[2] = value.substr(b + 1);
    } else if (record && arg == "--publish") {
      o.publishTopic = value;
    } else if (record && arg == "--subscribe") {
      o.subscribeTopic = value;
    } else if (record && arg == "--user") {
      o.user = value;
    } else if (record && arg == "--seconds") {
      if (!toNumber(value, 0.1, 600000, o.seconds)) return bad + " (0.1 to 600000 seconds)";
      sawSeconds = true;
    } else if (record && arg == "--minutes") {
      if (!toInt(value, 1, 9986, o.minutes)) return bad + " (1 to 9986 minutes)";
    } else if (record && arg == "--wait") {
      if (!toNumber(value, 0.1, 3600, o.waitSeconds)) return bad + " (0.1 to 3600 seconds)";
    } else if (record && arg == "--log") {
      o.logPath = value;
    } else if (plot && arg == "--channels") {
      if (!parseChannels(value, o.channels)) return bad + " (channel numbers 0 to 31, as 0,2,4-7)";
    } else if (plot && arg == "--from") {
      if (!toNumber(value, 0, 1e9, o.from)) return bad + " (seconds from the start)";
    } else if (plot && arg == "--to") {
      if (!toNumber(value, 0, 1e9, o.to)) return bad + " (seconds from the start)";
    } else if (plot && arg == "--size") {
      const size_t x = value.find('x');
      if (x == std::string::npos || !toInt(value.substr(0, x), 200, 10000, o.width) ||
          !toInt(value.substr(x + 1), 150, 10000, o.height))
        return bad + " (WxH, from 200x150 to 10000x10000)";
    } else {
      return "unknown option " + arg + " for " + o.command + " (telvaris-session " + o.command + " --help)";
    }
  }

  const size_t wanted = o.command == "export" || plot ? 2 : 1;
  const char* names = o.command == "export" ? "a session file and a CSV file"
                      : plot                ? "a session file and a PNG file"
                                            : "one session file";
  if (o.files.size() != wanted) return o.command + " takes " + names;
  if (record) {
    if (o.road == Road::kNone) return "record needs a road: --com N, --tcp [HOST:]PORT, --mqtt URI or --relay URI";
    const bool broker = o.road == Road::kMqtt || o.road == Road::kRelay;
    if (broker && (o.publishTopic.empty() || o.subscribeTopic.empty()))
      return std::string(o.road == Road::kMqtt ? "--mqtt" : "--relay") + " needs --publish TOPIC and --subscribe TOPIC";
    if (o.road != Road::kRelay && (o.monitor || !(o.words[0] + o.words[1] + o.words[2]).empty()))
      return "--words and --monitor go with --relay";
    if (!sawSeconds) return "record needs --seconds S";
  }
  if (plot) {
    if (o.to >= 0 && o.to <= o.from) return "--to must lie after --from";
    const int carried = channelsCarried(o.length);
    for (int c : o.channels) {
      if (c >= carried)
        return "channel " + std::to_string(c) + " is not in " + std::to_string(o.length) +
               "-byte packets (channels 0-" + std::to_string(carried - 1) + ")";
    }
  }
  return "";
}

}  // namespace session_tool
