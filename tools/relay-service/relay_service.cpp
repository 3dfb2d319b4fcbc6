// relay-service: a stand-in for the Pelorvantis relay service.
//
// It listens on a main application's publish topic and
//  - turns each "inhibit" or "reward" into one feedback message,
//    {"feedback":"inhibit"} or {"feedback":"reward"}, on
//    "/pelorvantis/<e-mail>/feedback", where a fading program listens;
//  - in relay mode answers "start/..." or "monitor/..." by streaming P3
//    packets of synthetic signals (14 bytes, 256 a second, a few packets a
//    message) on the DSU subscribe topic, until "stop/...".
// One MQTT client, one thread: the loop waits for messages only as long as
// the next stream message allows.
#include <MQTTClient.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "p3_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 20;
constexpr int kPacketLength = 14;
constexpr int kPacketsPerSecond = 256;
constexpr long kIdleWaitMs = 100;  // how soon a stop request is noticed
constexpr auto kReconnectPause = std::chrono::seconds(1);

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
  stopRequested = 1;
}

struct Options {
  std::string broker = "tcp://127.0.0.1:1883";
  std::string email;
  std::string listen;
  bool relay = false;
  std::string stream;
  int packetsPerMessage = 8;
  std::string clientId;
  bool quiet = false;
};

void usage(FILE* to) {
  std::fputs(
      "Usage: relay-service --email ADDRESS --listen TOPIC [options]\n"
      "\n"
      "A stand-in for the Pelorvantis relay service. It subscribes to a main\n"
      "application's publish topic and turns each \"inhibit\" or \"reward\" there into\n"
      "one feedback message {\"feedback\":\"inhibit\"} or {\"feedback\":\"reward\"} on\n"
      "/pelorvantis/ADDRESS/feedback, where a fading program listens. In relay mode\n"
      "it answers \"start/...\" or \"monitor/...\" (or a bare \"start\") by streaming P3\n"
      "packets of synthetic signals, 14 bytes each, 256 a second, on the DSU\n"
      "subscribe topic, until \"stop/...\" (or \"stop\"). Other payloads are ignored.\n"
      "It exits on SIGINT or SIGTERM.\n"
      "\n"
      "Options:\n"
      "  --broker URI      broker server URI (default tcp://127.0.0.1:1883)\n"
      "  --email ADDRESS   the trainee's e-mail address, part of the feedback topic\n"
      "  --listen TOPIC    the main application's publish topic\n"
      "  --relay           relay mode: answer start and monitor with a P3 stream\n"
      "  --stream TOPIC    the DSU subscribe topic the stream goes to (relay mode)\n"
      "  --packets N       P3 packets in each stream message, 1 to 256 (default 8)\n"
      "  --client-id ID    MQTT client identifier (default relay-service-<random>)\n"
      "  --quiet           report only failures\n"
      "  --help            show this text\n",
      to);
}

// Parses the command line; returns 0 to run, or the exit status.
int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return -1;
    } else if (arg == "--broker") {
      ok = value(o.broker);
    } else if (arg == "--email") {
      ok = value(o.email);
    } else if (arg == "--listen") {
      ok = value(o.listen);
    } else if (arg == "--relay") {
      o.relay = true;
    } else if (arg == "--stream") {
      ok = value(o.stream);
    } else if (arg == "--packets") {
      std::string n;
      ok = value(n);
      char* end = nullptr;
      const long packets = ok ? std::strtol(n.c_str(), &end, 10) : 0;
      ok = ok && end && *end == '\0' && packets >= 1 && packets <= kPacketsPerSecond;
      o.packetsPerMessage = static_cast<int>(packets);
    } else if (arg == "--client-id") {
      ok = value(o.clientId);
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "relay-service: bad or incomplete argument '%s'\n\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  std::string missing;
  if (o.email.empty()) missing = "--email";
  if (o.listen.empty()) missing = "--listen";
  if (o.relay && o.stream.empty()) missing = "--stream (relay mode)";
  if (!missing.empty()) {
    std::fprintf(stderr, "relay-service: %s is needed\n\n", missing.c_str());
    usage(stderr);
    return 2;
  }
  if (o.clientId.empty()) {
    std::random_device random;
    char id[32];
    std::snprintf(id, sizeof id, "relay-service-%08x", static_cast<unsigned>(random()));
    o.clientId = id;
  }
  return 0;
}

class Relay {
 public:
  explicit Relay(const Options& o)
      : options_(o),
        feedbackTopic_("/pelorvantis/" + o.email + "/feedback"),
        stream_(kPacketLength, kPacketsPerSecond) {}

  ~Relay() {
    if (client_) {
      if (MQTTClient_isConnected(client_)) MQTTClient_disconnect(client_, 1000);
      MQTTClient_destroy(&client_);
    }
  }

  int run() {
    const int rc = MQTTClient_create(&client_, options_.broker.c_str(), options_.clientId.c_str(),
                                     MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    if (rc != MQTTCLIENT_SUCCESS) {
      std::fprintf(stderr, "relay-service: cannot use broker URI '%s' (code %d)\n", options_.broker.c_str(), rc);
      return 1;
    }
    say("relay-service: feedback for %s goes to %s", options_.email.c_str(), feedbackTopic_.c_str());
    if (options_.relay) {
      say("relay-service: relay mode: start/monitor stream P3 on %s, %d packets a message", options_.stream.c_str(),
          options_.packetsPerMessage);
    }
    while (!stopRequested) {
      if (!MQTTClient_isConnected(client_) && !connect()) continue;
      serveOnce();
    }
    say("relay-service: stopping");
    return 0;
  }

 private:
  void say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (options_.quiet) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
  }

  bool connect() {
    MQTTClient_connectOptions connectOptions = MQTTClient_connectOptions_initializer;
    connectOptions.keepAliveInterval = kKeepAliveSeconds;
    connectOptions.cleansession = 1;
    int rc = MQTTClient_connect(client_, &connectOptions);
    if (rc == MQTTCLIENT_SUCCESS) rc = MQTTClient_subscribe(client_, options_.listen.c_str(), 0);
    if (rc == MQTTCLIENT_SUCCESS) {
      say("relay-service: connected to %s as %s, listening on %s", options_.broker.c_str(), options_.clientId.c_str(),
          options_.listen.c_str());
      reported_ = false;
      // A stream resumes from now rather than catching up the outage in one burst.
      streamStart_ = Clock::now();
      sent_ = 0;
      return true;
    }
    if (!reported_) {
      std::fprintf(stderr, "relay-service: cannot reach %s (code %d); trying again every second\n",
                   options_.broker.c_str(), rc);
      reported_ = true;
    }
    const auto until = Clock::now() + kReconnectPause;
    while (!stopRequested && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
    return false;
  }

  // Waits for one message (no longer than the stream allows), handles it,
  // and sends what the stream has due.
  void serveOnce() {
    char* topic = nullptr;
    int topicLength = 0;
    MQTTClient_message* message = nullptr;
    MQTTClient_receive(client_, &topic, &topicLength, &message, static_cast<unsigned long>(waitMs()));
    if (message) {
      handle(std::string_view(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen)));
      MQTTClient_freeMessage(&message);
    }
    if (topic) MQTTClient_free(topic);
    if (streaming_) sendDuePackets();
  }

  long waitMs() const {
    if (!streaming_) return kIdleWaitMs;
    const auto nextDue =
        streamStart_ + std::chrono::microseconds((sent_ + options_.packetsPerMessage) * 1000000LL / kPacketsPerSecond);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(nextDue - Clock::now()).count();
    return ms < 0 ? 0 : (ms > kIdleWaitMs ? kIdleWaitMs : static_cast<long>(ms));
  }

  void handle(std::string_view payload) {
    if (payload == "inhibit" || payload == "reward") {
      const std::string feedback = "{\"feedback\":\"" + std::string(payload) + "\"}";
      publish(feedbackTopic_, feedback.data(), feedback.size());
      say("relay-service: %.*s -> %s %s", static_cast<int>(payload.size()), payload.data(), feedbackTopic_.c_str(),
          feedback.c_str());
    } else if (options_.relay && isCommand(payload, "start")) {
      startStream(payload);
    } else if (options_.relay && isCommand(payload, "monitor")) {
      startStream(payload);
    } else if (options_.relay && isCommand(payload, "stop")) {
      if (streaming_) {
        say("relay-service: %.*s: stream ended after %llu packets", static_cast<int>(payload.size()), payload.data(),
            static_cast<unsigned long long>(sent_));
      }
      streaming_ = false;
    } else {
      say("relay-service: ignored a payload of %zu bytes", payload.size());
    }
  }

  // "word" alone or "word/..." (the words after it belong to the caller).
  static bool isCommand(std::string_view payload, std::string_view word) {
    return payload == word ||
           (payload.size() > word.size() && payload.substr(0, word.size()) == word && payload[word.size()] == '/');
  }

  void startStream(std::string_view payload) {
    if (streaming_) {
      say("relay-service: %.*s: already streaming", static_cast<int>(payload.size()), payload.data());
      return;
    }
    streaming_ = true;
    streamStart_ = Clock::now();
    sent_ = 0;
    say("relay-service: %.*s: streaming P3 on %s", static_cast<int>(payload.size()), payload.data(),
        options_.stream.c_str());
  }

  // Packets are due at 256 a second from the start; they leave in whole
  // messages, several at once if the loop fell behind.
  void sendDuePackets() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - streamStart_).count();
    const auto due = static_cast<uint64_t>(elapsed) * kPacketsPerSecond / 1000000ULL;
    while (streaming_ && due >= sent_ + static_cast<uint64_t>(options_.packetsPerMessage)) {
      buffer_.clear();
      stream_.append(buffer_, options_.packetsPerMessage);
      publish(options_.stream, buffer_.data(), buffer_.size());
      sent_ += static_cast<uint64_t>(options_.packetsPerMessage);
    }
  }

  void publish(const std::string& topic, const void* payload, size_t length) {
    MQTTClient_deliveryToken token = 0;
    const int rc = MQTTClient_publish(client_, topic.c_str(), static_cast<int>(length), payload, 0, 0, &token);
    if (rc != MQTTCLIENT_SUCCESS)
      std::fprintf(stderr, "relay-service: publish on %s failed (code %d)\n", topic.c_str(), rc);
  }

  const Options& options_;
  const std::string feedbackTopic_;
  MQTTClient client_ = nullptr;
  bool reported_ = false;
  bool streaming_ = false;
  Clock::time_point streamStart_;
  uint64_t sent_ = 0;  // packets sent in this stream
  p3synth::P3Stream stream_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  const int parsed = parse(argc, argv, options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  Relay relay(options);
  return relay.run();
}
