// session-standin: a stand-in for the main biofeedback application. It loads
// libtelvaris by file name, as the application does, and publishes feedback
// decisions through tlAPISetFeedbackStatus in the MQTT mode. With --com it
// trains as a trainer's application does: it acquires the DSU's stream
// through the library on a serial port, filters one channel to a band (alpha,
// 8-12 Hz, by default) with the library's filter designer and band-pass
// section, and rewards while that band's amplitude reaches a threshold.
// Without it, the decisions are those of a synthetic trainee whose share of
// rewards drifts slowly up and down.
#include <signal.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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
      "\"reward\") per period on TOPIC through tlAPISetFeedbackStatus. It exits\n"
      "after --count decisions, or on SIGINT or SIGTERM.\n"
      "\n"
      "With --com N the decisions come from the DSU on COM<N>: the library\n"
      "acquires its stream (the serial road), one channel goes through a\n"
      "band-pass filter the library designs (third-order Butterworth), and each\n"
      "period whose band amplitude (root mean square over the last --window ms)\n"
      "reaches --threshold is a reward, any other an inhibit; a period without\n"
      "new packets decides nothing. Without --com the share of rewards of a\n"
      "synthetic trainee drifts between 10 % and 90 % over each cycle.\n"
      "\n"
      "Options:\n"
      "  --broker ADDRESS  broker address without the port (default tcp://127.0.0.1)\n"
      "  --port PORT       broker port\n"
      "  --topic TOPIC     the publish topic the relay service listens to\n"
      "  --client-id ID    MQTT client identifier (default session-standin)\n"
      "  --period MS       milliseconds between decisions (default 250)\n"
      "  --com N           acquire from the DSU on COM<N> and decide from its signal\n"
      "  --channel C       the channel trained (0-7 of 14-byte packets, default 0)\n"
      "  --band LOW-HIGH   the band in Hz (default 8-12, alpha)\n"
      "  --rate R          the DSU's packets a second (default 256)\n"
      "  --threshold A     the band amplitude that earns a reward, in sample units\n"
      "                    (default 50)\n"
      "  --window MS       the amplitude's window (default 500)\n"
      "  --cycle S         without --com: seconds for the reward share to go round\n"
      "                    once (default 20)\n"
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

// The amplitude of one band of a channel: the library designs the band-pass
// (FilterGen: third-order Butterworth, pre-warped corners), BpFilter runs
// it sample by sample with the input divided by the gain at the band's
// centre, and the amplitude is the root mean square of the output over a
// window.
class BandAmplitude {
 public:
  BandAmplitude(decltype(&::FilterGen) filterGen, decltype(&::BpFilter) bpFilter)
      : filterGen_(filterGen), bpFilter_(bpFilter) {}

  bool design(double lowHz, double highHz, long rate, long windowMs) {
    char options[128];
    std::snprintf(options, sizeof options, "session-standin -Bu -Bp -o 3 -a %.6f %.6f", lowHz / rate, highHz / rate);
    double gains[3] = {};
    if (filterGen_(0, options, gains, coefficients_) != TLV_DSP_OK || !(gains[1] > 0)) return false;
    gain_ = gains[1];
    squares_.assign(static_cast<size_t>(std::max(1L, rate * windowMs / 1000)), 0.0);
    return true;
  }

  void add(double sample) {
    if (!primed_) {
      // A history of the first sample: the filter starts settled instead of
      // ringing after a step from zero.
      for (double& x : x_) x = sample / gain_;
      primed_ = true;
    }
    double out = 0;
    bpFilter_(&out, x_, y_, coefficients_, gain_, static_cast<float>(sample), 5);
    squares_[next_] = out * out;
    next_ = (next_ + 1) % squares_.size();
    if (filled_ < squares_.size()) ++filled_;
  }

  bool ready() const { return filled_ == squares_.size(); }

  double amplitude() const {
    double sum = 0;
    for (double v : squares_) sum += v;
    return std::sqrt(sum / static_cast<double>(squares_.size()));
  }

 private:
  decltype(&::FilterGen) filterGen_;
  decltype(&::BpFilter) bpFilter_;
  double coefficients_[22] = {};
  double gain_ = 1;
  double x_[7] = {}, y_[7] = {};
  bool primed_ = false;
  std::vector<double> squares_;
  size_t next_ = 0, filled_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string broker = "tcp://127.0.0.1", topic, clientId = "session-standin";
  std::string library = platform::programFolder() + "/" + platform::libraryFileName("telvaris");
  long port = 0, period = 250, cycle = 20, count = 0;
  long com = 0, channel = 0, rate = 256, windowMs = 500;
  double lowHz = 8, highHz = 12, threshold = 50;
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
    } else if (arg == "--com") {
      com = number(1, 256);
    } else if (arg == "--channel") {
      channel = number(0, 7);
    } else if (arg == "--rate") {
      rate = number(1, 100000);
    } else if (arg == "--window") {
      windowMs = number(10, 60000);
    } else if (arg == "--threshold" || arg == "--band") {
      const std::string text = value();
      char* end = nullptr;
      bool ok;
      if (arg == "--threshold") {
        threshold = std::strtod(text.c_str(), &end);
        ok = !text.empty() && *end == '\0' && threshold >= 0 && std::isfinite(threshold);
      } else {
        lowHz = std::strtod(text.c_str(), &end);
        ok = !text.empty() && *end == '-';
        if (ok) {
          const char* high = end + 1;
          highHz = std::strtod(high, &end);
          ok = *high != '\0' && *end == '\0' && lowHz > 0 && highHz > lowHz;
        }
      }
      if (!ok) {
        std::fprintf(stderr, "session-standin: %s does not take '%s'\n", arg.c_str(), text.c_str());
        std::exit(2);
      }
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
  if (com > 0 && 2 * highHz >= static_cast<double>(rate)) {
    std::fprintf(stderr, "session-standin: the band must lie below half the rate (%ld Hz)\n", rate / 2);
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

  auto setMqttMode = [&] {
    return setMode(2, broker.c_str(), static_cast<int32_t>(port), clientId.c_str(), topic.c_str(), "", "", "", "") == 2;
  };
  if (!setMqttMode()) {
    std::fprintf(stderr, "session-standin: the library refused the MQTT data transfer mode\n");
    return 1;
  }
  const int32_t rc = initialise(broker.c_str(), static_cast<int32_t>(port), clientId.c_str(), 0);
  if (rc != 0) {
    std::fprintf(stderr, "session-standin: cannot connect to %s:%ld (code %d)\n", broker.c_str(), port, rc);
    return 1;
  }

  // The DSU's stream. The library keeps one data road per process, read by
  // the session and by tlAPISetFeedbackStatus alike: a session takes its
  // road as it starts, so the serial mode is set while a session starts
  // and ends (its start and stop signals go down the serial line), and the
  // MQTT mode, for the decisions, once its packets flow.
  BandAmplitude band(bind<decltype(&::FilterGen)>(lib, "FilterGen"), bind<decltype(&::BpFilter)>(lib, "BpFilter"));
  auto initialiseDsu = bind<decltype(&::InitialiseDSU)>(lib, "InitialiseDSU");
  auto terminateDsu = bind<decltype(&::TerminateDSU)>(lib, "TerminateDSU");
  auto systemStatus = bind<decltype(&::GetSystemStatus)>(lib, "GetSystemStatus");
  auto packetsInBuffer = bind<decltype(&::PacketsInBuffer)>(lib, "PacketsInBuffer");
  auto getP3Data = bind<decltype(&::GetP3Data)>(lib, "GetP3Data");
  auto setComPorts = bind<decltype(&::SetComPorts)>(lib, "SetComPorts");
  auto setPacketLength = bind<decltype(&::SetDSUPacketLength)>(lib, "SetDSUPacketLength");
  auto setRecordingLength = bind<decltype(&::SetRecordingLength)>(lib, "SetRecordingLength");
  auto setSerialMode = [&] { setMode(0, "", 0, "", "", "", "", "", ""); };
  auto stopAcquiring = [&] {
    setSerialMode();
    terminateDsu(0, 0, "");
  };
  // False when no stream came (reported).
  auto startAcquiring = [&] {
    setSerialMode();
    setComPorts(0, 1, static_cast<int32_t>(com), static_cast<int32_t>(com - 1));
    setPacketLength(0, 14);
    setRecordingLength(30);  // a new session follows when it is full
    if (initialiseDsu(0) != 0) {
      std::fprintf(stderr, "session-standin: the library could not start a DSU session\n");
      return false;
    }
    for (int waited = 0; packetsInBuffer(0) <= 0; waited += 50) {
      const int32_t status = systemStatus(0);
      if (g_stop || waited >= 30000 || status == TLV_DSU_SERIAL_PORT_FAILURE || status == TLV_DSU_ALLOCATION_FAILURE ||
          status == TLV_DSU_CLOSEDOWN_COMPLETE) {
        stopAcquiring();
        if (!g_stop)
          std::fprintf(stderr, "session-standin: no stream from a DSU on COM%ld (%s)\n", com, tlvDsuStatusName(status));
        return false;
      }
      platform::sleepMs(50);
    }
    return setMqttMode();
  };
  if (com > 0) {
    if (!band.design(lowHz, highHz, rate, windowMs)) {
      std::fprintf(stderr, "session-standin: the library designs no band-pass for %g-%g Hz at %ld a second\n", lowHz,
                   highHz, rate);
      terminate();
      return 2;
    }
    if (!startAcquiring()) {
      terminate();
      return g_stop ? 0 : 1;
    }
    if (!quiet)
      std::printf("session-standin: acquiring from COM%ld: %g-%g Hz of channel %ld, a reward from an amplitude of %g\n",
                  com, lowHz, highHz, channel, threshold);
  }
  setSystem(1);  // sending/receiving data
  if (!quiet)
    std::printf("session-standin: publishing a decision every %ld ms on %s at %s:%ld\n", period, topic.c_str(),
                broker.c_str(), port);
  std::fflush(stdout);

  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double pi = std::acos(-1.0);
  long published = 0, rewards = 0, acquired = 0, ticks = 0;
  int exitStatus = 0;
  while (!g_stop && (count == 0 || published < count)) {
    bool reward = false;
    if (com > 0) {
      // Every packet decoded since the last period goes through the filter.
      int32_t channels[32], format = 0, counter = 0, aux = 0, taken = 0;
      while (getP3Data(channels, static_cast<int32_t>(channel + 1), &format, &counter, &aux) == TLV_P3_OK) {
        band.add(channels[channel]);
        ++taken;
      }
      acquired += taken;
      const int32_t status = systemStatus(0);
      if (status == TLV_DSU_END_OF_MEMORY) {
        stopAcquiring();
        if (!startAcquiring()) {
          exitStatus = g_stop ? 0 : 1;
          break;
        }
      } else if (status == TLV_DSU_CLOSEDOWN_COMPLETE) {
        std::fprintf(stderr, "session-standin: the DSU's line on COM%ld closed\n", com);
        exitStatus = 1;
        break;
      }
      if (taken == 0 || !band.ready()) {
        platform::sleepMs(static_cast<uint32_t>(period));
        continue;
      }
      reward = band.amplitude() >= threshold;
    } else {
      const double t = static_cast<double>(ticks++) * static_cast<double>(period) / 1000.0;
      const double rewardShare = 0.5 - 0.4 * std::cos(2.0 * pi * t / static_cast<double>(cycle));
      reward = uniform(random) < rewardShare;
    }
    setFeedback(reward ? 2 : 1);
    ++published;
    rewards += reward;
    if (!quiet && published % 20 == 0) {
      if (com > 0)
        std::printf("session-standin: %ld packets, %ld decisions, %ld rewards, amplitude %.1f\n", acquired, published,
                    rewards, band.amplitude());
      else
        std::printf("session-standin: %ld decisions, %ld rewards\n", published, rewards);
      std::fflush(stdout);
    }
    platform::sleepMs(static_cast<uint32_t>(period));
  }
  if (com > 0) stopAcquiring();
  setSystem(3);  // session ended
  terminate();
  if (!quiet) {
    if (com > 0)
      std::printf("session-standin: ended after %ld decisions (%ld rewards) made from %ld packets acquired on COM%ld\n",
                  published, rewards, acquired, com);
    else
      std::printf("session-standin: ended after %ld decisions (%ld rewards)\n", published, rewards);
  }
  return exitStatus;
}
