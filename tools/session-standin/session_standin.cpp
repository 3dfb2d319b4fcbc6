// session-standin: a stand-in for the main biofeedback application. It loads
// libtelvaris by file name, as the application does, chooses the MQTT data
// road and publishes a synthetic training session's feedback decisions
// through tlAPISetFeedbackStatus: a trainee whose share of rewards drifts
// slowly up and down, so that a fading program following the session fades
// in and out within seconds.
#include <signal.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "telvaris.h"

namespace {

std::atomic<bool> g_stop {false};
void onSignal(int) { g_stop = true; }

void usage(FILE* out) {
  std::fputs(
      "Usage: session-standin --port PORT --topic TOPIC [options]\n"
      "\n"
      "A stand-in for the main biofeedback application: it loads libtelvaris,\n"
      "connects to the broker through the library's MQTT link, sets the MQTT\n"
      "data transfer mode and publishes one feedback decision (\"inhibit\" or\n"
      "\"reward\") per period on TOPIC through tlAPISetFeedbackStatus. The share\n"
      "of rewards drifts between 10 % and 90 % over each cycle. It exits after\n"
      "--count decisions, or on SIGINT or SIGTERM.\n"
      "\n"
      "Options:\n"
      "  --broker ADDRESS  broker address without the port (default tcp://127.0.0.1)\n"
      "  --port PORT       broker port\n"
      "  --topic TOPIC     the publish topic the relay service listens to\n"
      "  --client-id ID    MQTT client identifier (default session-standin)\n"
      "  --period MS       milliseconds between decisions (default 250)\n"
      "  --cycle S         seconds for the reward share to go round once (default 20)\n"
      "  --count N         decisions to publish, 0 for no end (default 0)\n"
      "  --seed N          seed of the decisions (default 1)\n"
      "  --library PATH    the library to load (default libtelvaris.so beside this program)\n"
      "  --quiet           report only failures\n"
      "  --help            show this text\n",
      out);
}

// F is decltype(&::name): the compiler checks the export's signature and
// calling convention against telvaris.h.
template <typename F>
F bind(platform::DynamicLibrary& lib, const char* name) {
  auto f = lib.function<F>(name);
  if (!f) {
    std::fprintf(stderr, "session-standin: the library has no export %s\n", name);
    std::exit(1);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::string broker = "tcp://127.0.0.1", topic, clientId = "session-standin";
  std::string library = platform::programFolder() + "/" + platform::libraryFileName("telvaris");
  long port = 0, period = 250, cycle = 20, count = 0;
  unsigned seed = 1;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "session-standin: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    auto number = [&](long low, long high) {
      const std::string text = value();
      char* end = nullptr;
      const long n = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || n < low || n > high) {
        std::fprintf(stderr, "session-standin: %s wants a number from %ld to %ld, not '%s'\n", arg.c_str(), low,
                     high, text.c_str());
        std::exit(2);
      }
      return n;
    };
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--broker") {
      broker = value();
    } else if (arg == "--port") {
      port = number(1, 65535);
    } else if (arg == "--topic") {
      topic = value();
    } else if (arg == "--client-id") {
      clientId = value();
    } else if (arg == "--period") {
      period = number(1, 60000);
    } else if (arg == "--cycle") {
      cycle = number(1, 3600);
    } else if (arg == "--count") {
      count = number(0, 100000000);
    } else if (arg == "--seed") {
      seed = static_cast<unsigned>(number(0, 1000000000));
    } else if (arg == "--library") {
      library = value();
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "session-standin: unknown option '%s'\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (port == 0 || topic.empty()) {
    usage(stderr);
    return 2;
  }

  platform::DynamicLibrary lib;
  if (!lib.open(library)) {
    std::fprintf(stderr, "session-standin: cannot load %s: %s\n", library.c_str(), lib.error().c_str());
    return 1;
  }
  auto initialise = bind<decltype(&::initialiseMQTTConnection)>(lib, "initialiseMQTTConnection");
  auto terminate = bind<decltype(&::terminateMQTTConnection)>(lib, "terminateMQTTConnection");
  auto setMode = bind<decltype(&::SetDataTransferMode)>(lib, "SetDataTransferMode");
  auto setFeedback = bind<decltype(&::tlAPISetFeedbackStatus)>(lib, "tlAPISetFeedbackStatus");
  auto setSystem = bind<decltype(&::tlAPISetSystemStatus)>(lib, "tlAPISetSystemStatus");

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  if (setMode(2, broker.c_str(), static_cast<int32_t>(port), clientId.c_str(), topic.c_str(), "", "", "", "") != 2) {
    std::fprintf(stderr, "session-standin: the library refused the MQTT data transfer mode\n");
    return 1;
  }
  const int32_t rc = initialise(broker.c_str(), static_cast<int32_t>(port), clientId.c_str(), 0);
  if (rc != 0) {
    std::fprintf(stderr, "session-standin: cannot connect to %s:%ld (code %d)\n", broker.c_str(), port, rc);
    return 1;
  }
  setSystem(1);  // sending/receiving data
  if (!quiet)
    std::printf("session-standin: publishing a decision every %ld ms on %s at %s:%ld\n", period, topic.c_str(),
                broker.c_str(), port);
  std::fflush(stdout);

  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double pi = std::acos(-1.0);
  long published = 0, rewards = 0;
  while (!g_stop && (count == 0 || published < count)) {
    const double t = static_cast<double>(published) * static_cast<double>(period) / 1000.0;
    const double rewardShare = 0.5 - 0.4 * std::cos(2.0 * pi * t / static_cast<double>(cycle));
    const bool reward = uniform(random) < rewardShare;
    setFeedback(reward ? 2 : 1);
    ++published;
    rewards += reward;
    if (!quiet && published % 20 == 0) {
      std::printf("session-standin: %ld decisions, %ld rewards\n", published, rewards);
      std::fflush(stdout);
    }
    platform::sleepMs(static_cast<uint32_t>(period));
  }
  setSystem(3);  // session ended
  terminate();
  if (!quiet) std::printf("session-standin: ended after %ld decisions (%ld rewards)\n", published, rewards);
  return 0;
}
