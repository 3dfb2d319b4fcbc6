// A soak of the fading program's tick: tlMQTTRetrieveFeedbackInformation
// every 100 ms (the overlay timer's default interval) for ten minutes,
// against a loopback mosquitto with a publisher in another process (this
// program again) that sends the relay service's feedback messages,
// {"feedback":"inhibit"} and {"feedback":"reward"} in turn, ten a second.
// Every few seconds it samples the resident set size (RSS) and the CPU the
// process used since the last sample; at the end it prints the figures,
// among them the RSS at one minute beside the highest after it (a leak
// shows as growth after the first minute).
//
//   soak_feedback_tick [--seconds 600] [--rate 10] [--sample 5]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/int_options.h"
#include "common/process_usage.h"
#include "fixtures/child_process.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kTopic = "/pelorvantis/soak@example.org/feedback";
constexpr auto kTick = std::chrono::milliseconds(100);

struct Options {
  int seconds = 600;
  int rate = 10;      // feedback messages a second
  int sample = 5;     // seconds between samples
  int publishTo = 0;  // set in the publishing process: the broker's port
};

Options parse(int argc, char** argv) {
  Options o;
  benchutil::readIntOptions(
      argc, argv,
      {{"--seconds", &o.seconds}, {"--rate", &o.rate}, {"--sample", &o.sample}, {"--publish-to", &o.publishTo}});
  o.rate = std::max(o.rate, 1);
  o.sample = std::max(o.sample, 1);
  return o;
}

// The publishing process: `rate` feedback messages a second, for `seconds`
// and a little longer, so that the soak never runs dry.
int publish(const Options& o) {
  if (initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, o.publishTo, "soak-publisher", 0) != 0) {
    std::printf("publisher: no connection\n");
    return 1;
  }
  const char* payloads[2] = {"{\"feedback\":\"inhibit\"}", "{\"feedback\":\"reward\"}"};
  const long total = static_cast<long>(o.rate) * (o.seconds + 5);
  long refused = 0;
  const auto start = Clock::now();
  for (long n = 0; n < total; ++n) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000 / o.rate));
    if (publishToMQTTConnection(kTopic, payloads[n % 2]) != 0) ++refused;
  }
  std::printf("publisher: %ld messages, %ld refused\n", total, refused);
  terminateMQTTConnection();
  return 0;
}

struct Sample {
  int second;
  double rss;
  double cpuPercent;
  size_t queued;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options o = parse(argc, argv);
  if (o.publishTo != 0) return publish(o);

  fixtures::MosquittoBroker broker;
  if (initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, broker.port(), "C1-soak@example.org", 0) != 0 ||
      subscribeToMQTTConnection(kTopic) != 0) {
    std::printf("no connection to the broker\n");
    return 1;
  }
  fixtures::ChildProcess publisher;
  const std::string said = broker.folder() + "/publisher.out";
  publisher.start({"/proc/self/exe", "--publish-to", std::to_string(broker.port()), "--rate", std::to_string(o.rate),
                   "--seconds", std::to_string(o.seconds)},
                  {}, said);

  std::printf("%d s of ticks every %lld ms; %d feedback messages a second; a sample every %d s\n", o.seconds,
              static_cast<long long>(kTick.count()), o.rate, o.sample);
  std::printf("%6s %9s %7s %7s\n", "s", "RSS MiB", "CPU %", "queued");
  long ticks = 0, inhibits = 0, rewards = 0, nones = 0;
  std::chrono::nanoseconds longestTick {0}, longestGap {0};
  std::vector<Sample> samples;
  const auto start = Clock::now();
  auto lastSample = start;
  double lastCpu = benchutil::cpuSeconds();
  auto previousTick = start;
  samples.push_back({0, benchutil::rssMiB(), 0.0, 0});
  std::printf("%6d %9.1f %7s %7s\n", 0, samples.back().rss, "-", "-");
  for (auto due = start + kTick; due <= start + std::chrono::seconds(o.seconds); due += kTick) {
    std::this_thread::sleep_until(due);
    const auto began = Clock::now();
    longestGap = std::max(longestGap, std::chrono::nanoseconds(began - previousTick));
    previousTick = began;
    const int32_t decision = tlMQTTRetrieveFeedbackInformation();
    longestTick = std::max(longestTick, std::chrono::nanoseconds(Clock::now() - began));
    ++ticks;
    (decision == 0 ? inhibits : decision == 1 ? rewards : nones)++;
    if (began - lastSample >= std::chrono::seconds(o.sample)) {
      const double cpu = benchutil::cpuSeconds();
      const double wall = std::chrono::duration<double>(began - lastSample).count();
      const int second = static_cast<int>(std::chrono::duration<double>(began - start).count() + 0.5);
      samples.push_back(
          {second, benchutil::rssMiB(), 100.0 * (cpu - lastCpu) / wall, net::mqtt::queueLevel().messages});
      lastCpu = cpu;
      lastSample = began;
      const Sample& s = samples.back();
      std::printf("%6d %9.1f %7.2f %7zu\n", s.second, s.rss, s.cpuPercent, s.queued);
    }
  }
  const double totalCpu = benchutil::cpuSeconds();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  terminateMQTTConnection();
  // Its last five seconds are over soon: then it says what it sent.
  if (!publisher.waitExit(15000)) publisher.stop();

  double highest = 0, afterMinute = 0, highestAfterMinute = 0, highestCpu = 0;
  for (const Sample& s : samples) {
    highest = std::max(highest, s.rss);
    if (s.second > 0) highestCpu = std::max(highestCpu, s.cpuPercent);
    if (s.second >= 60 && afterMinute == 0) afterMinute = s.rss;
    if (s.second >= 60) highestAfterMinute = std::max(highestAfterMinute, s.rss);
  }
  std::printf("%s", fixtures::readFile(said).c_str());
  std::printf(
      "ticks: %ld (%ld inhibit, %ld reward, %ld none); longest tick %.1f ms, longest gap between ticks %.1f ms\n",
      ticks, inhibits, rewards, nones, std::chrono::duration<double, std::milli>(longestTick).count(),
      std::chrono::duration<double, std::milli>(longestGap).count());
  std::printf(
      "RSS: at start %.1f MiB, highest %.1f MiB, at 60 s %.1f MiB, highest after %.1f MiB, at the end %.1f MiB\n",
      samples.front().rss, highest, afterMinute, highestAfterMinute, samples.back().rss);
  std::printf("CPU: %.2f %% of one core on average (%.1f s in %.0f s), highest sample %.2f %%\n",
              100.0 * totalCpu / wall, totalCpu, wall, highestCpu);
  return 0;
}
