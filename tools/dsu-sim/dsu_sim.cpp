// dsu-sim: stands in for the DSU, the data-acquisition unit, on one of three
// roads: a pseudo-terminal linked as a COM port of $TELVARIS_ROOT, a TCP
// server on the loopback interface, or an MQTT broker. It obeys the unit's
// commands, streams P3 packets of test signals (or replays a recorded
// session), records every byte it receives, and can misbehave on request.
// One thread: the loop waits for input only as long as the next packet
// allows. Ends on SIGINT or SIGTERM and removes its COM link.
#include <MQTTClient.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/pseudo_terminal.h"
#include "sim_protocol.h"
#include "sim_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
extern "C" void onSignal(int) { g_stop = 1; }

constexpr size_t kMostQueued = 256 * 1024;  // stream bytes waiting for a slow reader
constexpr int kIdleWaitMs = 100;

void usage(FILE* to) {
  std::fputs(
      "usage: dsu-sim ROAD [options]\n"
      "\n"
      "Stands in for the DSU, the data-acquisition unit that streams P3 packets.\n"
      "\n"
      "Roads (one):\n"
      "  --com N            a pseudo-terminal linked as COM<N> of the library's root\n"
      "                     ($TELVARIS_ROOT/dosdevices/comN, or --root DIR); the library\n"
      "                     finds it with a port scan or SetComPorts(0, 1, 50, N-1)\n"
      "  --tcp PORT         a TCP server on 127.0.0.1:PORT (0: any free port; the port is\n"
      "                     printed); one client at a time; the stream starts when a\n"
      "                     client connects, since the library sends no start signal on\n"
      "                     this road, and ends when it leaves; framed commands that\n"
      "                     arrive are obeyed as on a serial line\n"
      "  --mqtt URI         an MQTT broker (tcp://host:port); with\n"
      "    --listen TOPIC   the library's publish topic: payloads \"start\", \"start/...\"\n"
      "                     and \"monitor/...\" start the stream, \"stop\" or \"stop/...\"\n"
      "                     stop it (modes 2, 3 and 4 of SetDataTransferMode)\n"
      "    --stream TOPIC   the library's subscribe topic, where the packets go\n"
      "    --packets N      packets in each message (default 8)\n"
      "    --client-id ID   MQTT client identifier (default dsu-sim-<pid>)\n"
      "                     a lost broker is tried again every 200 ms; the stream then\n"
      "                     waits for a new start (a restarted broker has forgotten\n"
      "                     who asked for it)\n"
      "\n"
      "The unit (serial road, and commands over TCP):\n"
      "  Frames are 0x02 (single-step) or 0x01 (burst), the text, 0x0A; a signal may\n"
      "  start with 0x0A instead (early version 3 units). 'RING' starts the stream,\n"
      "  'NO C...' ('NO CARRIER') stops it and empties what is queued. \"W9710c\" sets the\n"
      "  active channels (c = 0..3: 2, 4, 6, 8 channels; 5, 8, 11, 14-byte packets),\n"
      "  \"W9A00r\" the sample rate (r = 8, 4, 2, 1: 256, 512, 1024, 2048 a second);\n"
      "  other values are refused. \"WA00vv\" and \"WA01vv\" are kept in registers A00\n"
      "  and A01 (the stored channel setting and the protocol share A00: \"WA0008\"\n"
      "  Telvaris, \"WA0009\" IBVA, \"WA0003\" OPENEEG; A01 holds the stored rate and the\n"
      "  time base); they change nothing else. Writes are not answered. \"RA00\", \"R971\"\n"
      "  and \"R9A0\" (any \"Rrrr\") are answered 0x02 'A' r r r v v 0x0A, the value v v\n"
      "  at bytes 5 and 6 (A00 and A01 start as 08). \"IDENT\" is answered with the\n"
      "  identification text alone. Other frames are ignored; bytes outside frames\n"
      "  are line noise.\n"
      "\n"
      "The stream:\n"
      "  --length L         packet length 5, 8, 11, 14 or 50 (default 14; 50 carries 32\n"
      "                     channels and has no channel code: R971 reads 04)\n"
      "  --rate R           packets a second (default 256)\n"
      "  --channel I=SPEC   the signal of channel I (0-31); SPEC is one of\n"
      "                       sine:F:A     a sine of F Hz, amplitude A\n"
      "                       noise:A      uniform noise within +-A\n"
      "                       pulse:B:A    a heart-beat-like pulse, B beats a minute\n"
      "                       square:F:A   a square wave of F Hz, +-A (filter checks)\n"
      "                       burst:F:A:S  a sine of F Hz for S seconds, then S seconds\n"
      "                                    of nothing, and so on (band power alternates)\n"
      "                       flat:V       the constant V\n"
      "                     all but flat around 512; channels left out carry a mix of two\n"
      "                     sines of their own (10, 6, 12, 20, 3, 15, 8, 1 Hz ...)\n"
      "  --seed N           seed of the noise (default 1)\n"
      "  --replay FILE      stream the bytes of a recorded session instead, in pieces of\n"
      "                     the packet length at the packet rate, round again at its end\n"
      "  --speed F          stream F times faster than the rate (a minute of data in\n"
      "                     60/F seconds); the signals keep their own time\n"
      "  --ident TEXT       the identification text\n"
      "  --record FILE      write every byte received to FILE (MQTT: every payload)\n"
      "\n"
      "Faults:\n"
      "  --framing-error-every N  clear the frame marker of every Nth packet\n"
      "  --drop-byte-every N      drop the middle byte of every Nth packet\n"
      "  --stall-ms N             pause the stream N ms once (after --stall-after P\n"
      "                           packets, default 256); it then goes on where it was\n"
      "  --cut-after N            cut the line after N packets (pty: hung up for good;\n"
      "                           TCP: the client is dropped; MQTT: the stream ends)\n"
      "  --hangup-after-bytes N   hang up once N bytes were received (the bytes after\n"
      "                           them are neither recorded nor obeyed), so that a\n"
      "                           command write fails part-way\n"
      "  --answer-bytes N         answer a start with exactly N bytes, then nothing\n"
      "\n"
      "  --root DIR         the library's root for --com (default $TELVARIS_ROOT)\n"
      "  --help             this text\n"
      "\n"
      "Prints what it does, one line each, on standard output. SIGINT or SIGTERM ends\n"
      "it; it removes its COM link.\n",
      to);
}

struct Options {
  int com = 0;
  std::optional<int> tcpPort;
  std::string mqttUri, listenTopic, streamTopic, clientId;
  int packetsPerMessage = 8;
  std::string root;
  int length = 14;
  int rate = 256;
  std::vector<std::optional<p3synth::Signal>> signals = std::vector<std::optional<p3synth::Signal>>(32);
  uint64_t seed = 1;
  std::string replay;
  double speed = 1.0;
  std::string ident = dsusim::Unit::kDefaultIdent;
  std::string record;
  dsusim::Faults faults;
  long hangupAfterBytes = 0;
};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  std::fputs("dsu-sim: ", stdout);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
}

bool toLong(const std::string& text, long& out, long least) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && end && *end == '\0' && errno == 0 && out >= least;
}

// 0 to run, else the exit status.
int parse(int argc, char** argv, Options& o) {
  o.faults.stallAfter = 256;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return -1;
    }
    const bool hasValue = i + 1 < argc;
    const std::string value = hasValue ? argv[i + 1] : "";
    long n = 0;
    bool ok = hasValue;
    if (arg == "--com") {
      ok = ok && toLong(value, n, 1) && n <= 256;
      o.com = static_cast<int>(n);
    } else if (arg == "--tcp") {
      ok = ok && toLong(value, n, 0) && n <= 65535;
      o.tcpPort = static_cast<int>(n);
    } else if (arg == "--mqtt") {
      o.mqttUri = value;
    } else if (arg == "--listen") {
      o.listenTopic = value;
    } else if (arg == "--stream") {
      o.streamTopic = value;
    } else if (arg == "--packets") {
      ok = ok && toLong(value, n, 1) && n <= 4096;
      o.packetsPerMessage = static_cast<int>(n);
    } else if (arg == "--client-id") {
      o.clientId = value;
    } else if (arg == "--root") {
      o.root = value;
    } else if (arg == "--length") {
      ok = ok && toLong(value, n, 5) && (n == 5 || n == 8 || n == 11 || n == 14 || n == 50);
      o.length = static_cast<int>(n);
    } else if (arg == "--rate") {
      ok = ok && toLong(value, n, 1) && n <= 100000;
      o.rate = static_cast<int>(n);
    } else if (arg == "--channel") {
      const size_t eq = value.find('=');
      std::string error;
      p3synth::Signal signal;
      ok = ok && eq != std::string::npos && toLong(value.substr(0, eq), n, 0) && n < 32 &&
           p3synth::parseSignal(value.substr(eq + 1), signal, error);
      if (ok) o.signals[static_cast<size_t>(n)] = signal;
      if (!error.empty()) std::fprintf(stderr, "dsu-sim: %s\n", error.c_str());
    } else if (arg == "--seed") {
      ok = ok && toLong(value, n, 0);
      o.seed = static_cast<uint64_t>(n);
    } else if (arg == "--replay") {
      o.replay = value;
    } else if (arg == "--speed") {
      char* end = nullptr;
      o.speed = std::strtod(value.c_str(), &end);
      ok = ok && end && *end == '\0' && o.speed > 0 && o.speed <= 10000;
    } else if (arg == "--ident") {
      o.ident = value;
    } else if (arg == "--record") {
      o.record = value;
    } else if (arg == "--framing-error-every") {
      ok = ok && toLong(value, o.faults.framingErrorEvery, 1);
    } else if (arg == "--drop-byte-every") {
      ok = ok && toLong(value, o.faults.dropByteEvery, 1);
    } else if (arg == "--stall-ms") {
      ok = ok && toLong(value, o.faults.stallMs, 1);
    } else if (arg == "--stall-after") {
      ok = ok && toLong(value, o.faults.stallAfter, 0);
    } else if (arg == "--cut-after") {
      ok = ok && toLong(value, o.faults.cutAfter, 1);
    } else if (arg == "--hangup-after-bytes") {
      ok = ok && toLong(value, o.hangupAfterBytes, 1);
    } else if (arg == "--answer-bytes") {
      ok = ok && toLong(value, o.faults.answerBytes, 0);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "dsu-sim: bad or incomplete argument '%s'\n\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    ++i;
  }
  const int roads = (o.com > 0) + (o.tcpPort.has_value()) + (!o.mqttUri.empty());
  if (roads != 1 || (!o.mqttUri.empty() && (o.listenTopic.empty() || o.streamTopic.empty()))) {
    std::fprintf(stderr, "dsu-sim: give one road: --com N, --tcp PORT or --mqtt URI --listen T --stream T\n\n");
    usage(stderr);
    return 2;
  }
  if (o.clientId.empty()) o.clientId = "dsu-sim-" + std::to_string(getpid());
  return 0;
}

// What every road shares: the unit, its stream, the record and the queue of
// bytes to send.
class Simulator {
 public:
  explicit Simulator(const Options& o)
      : options_(o), unit_(o.length, o.rate, o.ident), stream_(o.signals, o.seed, o.speed, o.faults) {}

  bool open() {
    if (!options_.record.empty()) {
      record_ = std::fopen(options_.record.c_str(), "wb");
      if (!record_) {
        std::fprintf(stderr, "dsu-sim: cannot write %s\n", options_.record.c_str());
        return false;
      }
    }
    if (!options_.replay.empty()) {
      std::ifstream in(options_.replay, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) bytes.clear();
      if (bytes.empty()) {
        std::fprintf(stderr, "dsu-sim: nothing to replay in %s\n", options_.replay.c_str());
        return false;
      }
      say("replaying %s (%zu bytes)", options_.replay.c_str(), bytes.size());
      stream_.setReplay(std::move(bytes));
    }
    return true;
  }

  ~Simulator() {
    if (record_) std::fclose(record_);
  }

  // Bytes from the line: recorded, then obeyed.
  void received(const uint8_t* bytes, size_t count) {
    if (hungUp_) return;
    if (options_.hangupAfterBytes > 0) {
      const size_t left = static_cast<size_t>(options_.hangupAfterBytes) - receivedCount_;
      if (count >= left) {
        count = left;
        hangUpDue_ = true;
      }
    }
    receivedCount_ += count;
    if (record_) {
      std::fwrite(bytes, 1, count, record_);
      std::fflush(record_);
    }
    std::vector<std::string> frames;
    parser_.feed(bytes, count, frames);
    for (const std::string& frame : frames) obey(frame);
    if (hangUpDue_) say("hanging up after %zu bytes received", receivedCount_);
  }

  void recordOnly(const void* bytes, size_t count) {
    if (record_) {
      std::fwrite(bytes, 1, count, record_);
      std::fflush(record_);
    }
  }

  void obey(const std::string& frame) {
    const dsusim::Outcome outcome = unit_.handle(frame);
    switch (outcome.action) {
      case dsusim::Action::kStartStream:
        startStream(outcome.note.c_str());
        break;
      case dsusim::Action::kStopStream:
        stopStream(outcome.note.c_str());
        break;
      default:
        say("%s", outcome.note.c_str());
        break;
    }
    queue_ += outcome.reply;
  }

  void startStream(const char* why) {
    if (stream_.running()) {
      say("%s: already streaming", why);
      return;
    }
    stream_.start(Clock::now(), unit_.packetLength(), unit_.sampleRate());
    say("%s: streaming %d-byte packets at %d a second", why, unit_.packetLength(), unit_.sampleRate());
  }

  void stopStream(const char* why) {
    if (stream_.running())
      say("%s: stream stopped after %llu packets", why, static_cast<unsigned long long>(stream_.packets()));
    else
      say("%s: not streaming", why);
    stream_.stop();
    queue_.clear();  // what the unit still had queued goes with the stream
  }

  // Adds what the stream has due to the queue; a reader that falls far
  // behind loses packets, as on a real line.
  void pump() {
    std::string due;
    stream_.pump(Clock::now(), due);
    if (queue_.size() + due.size() <= kMostQueued) {
      queue_ += due;
    } else if (!due.empty() && !overflowReported_) {
      say("the reader is behind: packets dropped");
      overflowReported_ = true;
    }
    if (stream_.cutDue() && !cutReported_) {
      cutReported_ = true;
      cutDue_ = true;
      say("cutting the line after %llu packets", static_cast<unsigned long long>(stream_.allPackets()));
    }
  }

  int waitMs() const {
    if (!stream_.running()) return kIdleWaitMs;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(stream_.nextDue() - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kIdleWaitMs));
  }

  // Writes what the non-blocking `fd` takes; false when the line is gone.
  bool flushTo(int fd) {
    while (!queue_.empty()) {
      const ssize_t n = ::write(fd, queue_.data(), queue_.size());
      if (n > 0) {
        queue_.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
      } else {
        return false;
      }
    }
    return true;
  }

  // The line goes dead: a cut, or a hang-up after the bytes asked for.
  // `beforehand` runs first, with what was queued before the cut.
  template <typename Beforehand>
  bool lineEndsAfter(Beforehand beforehand) {
    if (!(cutDue_ || hangUpDue_) || hungUp_) return false;
    hungUp_ = true;
    stream_.stop();
    if (cutDue_) beforehand();
    queue_.clear();
    return true;
  }

  void dropClient() {
    stream_.stop();
    queue_.clear();
    cutDue_ = false;
  }

  std::string& queue() { return queue_; }
  dsusim::Stream& stream() { return stream_; }
  const dsusim::Unit& unit() const { return unit_; }

 private:
  const Options& options_;
  dsusim::Unit unit_;
  dsusim::Stream stream_;
  dsusim::FrameParser parser_;
  FILE* record_ = nullptr;
  std::string queue_;
  size_t receivedCount_ = 0;
  bool hangUpDue_ = false;
  bool cutDue_ = false;
  bool cutReported_ = false;
  bool hungUp_ = false;
  bool overflowReported_ = false;
};

// Waits (at most two seconds) until the reader at the far end has taken
// what is queued for it.
void waitUntilTaken(const std::string& farPath) {
  const int fd = ::open(farPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  // Written bytes reach the far end's queue a moment later: it must be
  // seen empty twice, some time apart.
  const auto until = Clock::now() + std::chrono::seconds(2);
  int emptyLooks = 0;
  while (Clock::now() < until && emptyLooks < 2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) != 0) break;
    emptyLooks = queued > 0 ? 0 : emptyLooks + 1;
  }
  ::close(fd);
}

int runPty(const Options& o, Simulator& sim) {
  const std::string root = o.root.empty() ? platform::telvarisRoot() : o.root;
  std::optional<platform::PseudoTerminal> wire;
  try {
    wire.emplace();
    wire->linkAsCom(root, o.com);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dsu-sim: %s\n", e.what());
    return 1;
  }
  say("ready on COM%d (%s)", o.com, wire->farPath().c_str());
  bool alive = true;
  while (!g_stop) {
    if (!alive) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
      continue;
    }
    const int fd = wire->nearFd();
    pollfd p {fd, static_cast<short>(POLLIN | (sim.queue().empty() ? 0 : POLLOUT)), 0};
    ::poll(&p, 1, sim.waitMs());
    if (p.revents & POLLIN) {
      uint8_t chunk[4096];
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got > 0) sim.received(chunk, static_cast<size_t>(got));
    }
    sim.pump();
    if (sim.lineEndsAfter([&] {
          // What went out before the cut reaches the reader: a hang-up
          // empties the far end's queue.
          sim.flushTo(fd);
          waitUntilTaken(wire->farPath());
        })) {
      wire->hangUp();
      alive = false;
      say("line hung up");
      continue;
    }
    sim.flushTo(fd);
  }
  std::error_code ignored;
  std::filesystem::remove(platform::comLinkPath(root, o.com), ignored);
  return 0;
}

int runTcp(const Options& o, Simulator& sim) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(*o.tcpPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0) {
    std::fprintf(stderr, "dsu-sim: cannot listen on 127.0.0.1:%d: %s\n", *o.tcpPort, std::strerror(errno));
    if (listener >= 0) ::close(listener);
    return 1;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  say("ready on tcp 127.0.0.1:%d", ntohs(address.sin_port));
  int client = -1;
  auto dropClient = [&](const char* why) {
    ::close(client);
    client = -1;
    sim.dropClient();
    say("%s", why);
  };
  while (!g_stop) {
    pollfd p[2] = {{listener, POLLIN, 0},
                   {client, static_cast<short>(POLLIN | (sim.queue().empty() ? 0 : POLLOUT)), 0}};
    ::poll(p, client >= 0 ? 2 : 1, sim.waitMs());
    if (client < 0 && (p[0].revents & POLLIN)) {
      client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client >= 0) sim.startStream("client connected");
    }
    if (client < 0) continue;
    if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      uint8_t chunk[4096];
      const ssize_t got = ::read(client, chunk, sizeof chunk);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        dropClient("client left");
        continue;
      }
      if (got > 0) sim.received(chunk, static_cast<size_t>(got));
    }
    sim.pump();
    if (sim.lineEndsAfter([&] { sim.flushTo(client); })) {
      dropClient("client dropped");
      continue;
    }
    if (!sim.flushTo(client)) dropClient("client left");
  }
  if (client >= 0) ::close(client);
  ::close(listener);
  return 0;
}

bool isCommand(const std::string& payload, const std::string& word) {
  return payload == word || payload.rfind(word + "/", 0) == 0;
}

// Connects and subscribes to the command topic: MQTTCLIENT_SUCCESS, or the
// client library's code of the step that failed.
int connectAndListen(const Options& o, MQTTClient client, int connectTimeoutSeconds) {
  MQTTClient_connectOptions connectOptions = MQTTClient_connectOptions_initializer;
  connectOptions.keepAliveInterval = 20;
  connectOptions.cleansession = 1;
  connectOptions.connectTimeout = connectTimeoutSeconds;
  const int rc = MQTTClient_connect(client, &connectOptions);
  return rc == MQTTCLIENT_SUCCESS ? MQTTClient_subscribe(client, o.listenTopic.c_str(), 0) : rc;
}

// After a lost broker (a restart, say) the stream has stopped, as a relay
// that lost its subscribers stops: it goes on only when asked again. Tries
// to connect every 200 ms until it succeeds (true) or the simulator is told
// to stop (false).
bool reconnectMqtt(const Options& o, Simulator& sim, MQTTClient client) {
  sim.stopStream("lost the broker");
  while (!g_stop) {
    if (connectAndListen(o, client, 2) == MQTTCLIENT_SUCCESS) {
      say("reconnected to %s: commands on %s", o.mqttUri.c_str(), o.listenTopic.c_str());
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

int runMqtt(const Options& o, Simulator& sim) {
  MQTTClient client = nullptr;
  int rc = MQTTClient_create(&client, o.mqttUri.c_str(), o.clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr);
  if (rc != MQTTCLIENT_SUCCESS) {
    std::fprintf(stderr, "dsu-sim: cannot use broker URI '%s' (code %d)\n", o.mqttUri.c_str(), rc);
    return 1;
  }
  rc = connectAndListen(o, client, 30);
  if (rc != MQTTCLIENT_SUCCESS) {
    std::fprintf(stderr, "dsu-sim: cannot reach %s or subscribe (code %d)\n", o.mqttUri.c_str(), rc);
    MQTTClient_destroy(&client);
    return 1;
  }
  say("ready on mqtt %s as %s: commands on %s, stream on %s", o.mqttUri.c_str(), o.clientId.c_str(),
      o.listenTopic.c_str(), o.streamTopic.c_str());
  while (!g_stop) {
    char* topic = nullptr;
    int topicLength = 0;
    MQTTClient_message* message = nullptr;
    MQTTClient_receive(client, &topic, &topicLength, &message, static_cast<unsigned long>(sim.waitMs()));
    if (message) {
      const std::string payload(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen));
      sim.recordOnly(payload.data(), payload.size());
      if (isCommand(payload, "start") || isCommand(payload, "monitor")) {
        sim.startStream(payload.c_str());
      } else if (isCommand(payload, "stop")) {
        sim.stopStream(payload.c_str());
      } else {
        say("ignored a payload of %zu bytes", payload.size());
      }
      MQTTClient_freeMessage(&message);
    }
    if (topic) MQTTClient_free(topic);
    // Whole messages of so many packets; what is left waits for more (or
    // goes at once when the stream has stopped).
    auto publishQueued = [&] {
      const size_t chunk = static_cast<size_t>(o.packetsPerMessage) * static_cast<size_t>(sim.unit().packetLength());
      std::string& queue = sim.queue();
      while (!queue.empty() && (queue.size() >= chunk || !sim.stream().running())) {
        const size_t n = std::min(chunk, queue.size());
        MQTTClient_deliveryToken token = 0;
        rc = MQTTClient_publish(client, o.streamTopic.c_str(), static_cast<int>(n), queue.data(), 0, 0, &token);
        if (rc != MQTTCLIENT_SUCCESS) {
          std::fprintf(stderr, "dsu-sim: publish failed (code %d)\n", rc);
          break;
        }
        queue.erase(0, n);
      }
    };
    sim.pump();
    if (sim.lineEndsAfter(publishQueued)) say("stream ended");
    publishQueued();
    if (!MQTTClient_isConnected(client) && !reconnectMqtt(o, sim, client)) break;
  }
  if (MQTTClient_isConnected(client)) MQTTClient_disconnect(client, 1000);
  MQTTClient_destroy(&client);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  const int parsed = parse(argc, argv, options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  Simulator sim(options);
  if (!sim.open()) return 1;
  int status;
  if (options.com > 0) {
    status = runPty(options, sim);
  } else if (options.tcpPort) {
    status = runTcp(options, sim);
  } else {
    status = runMqtt(options, sim);
  }
  say("stopped");
  return status;
}
