// The MQTT link's memory under a flood: a publisher in another process (this
// program again) sends 14-byte messages, one P3 packet each, at 10,000 a
// second for a minute through a loopback mosquitto, and the link takes them
// in. Measured twice: with a reader that empties the queue every 100 ms, up
// to 430080 bytes a pass, as a DSU session does; and with nobody reading, so
// that the queue fills to its bound and drops the oldest. Prints the
// resident set size (RSS) before and every ten seconds during each flood,
// the queue's level and what was dropped.
//
//   bench_mqtt_flood [--seconds 60] [--rate 10000] [--bytes 14]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
constexpr const char* kTopic = "bench/flood";
constexpr size_t kDsuPassBytes = 430080;

struct Options {
  int seconds = 60;
  int rate = 10000;
  int bytes = 14;
  int publishTo = 0;  // set in the publishing process: the broker's port
};

Options parse(int argc, char** argv) {
  Options o;
  benchutil::readIntOptions(
      argc, argv,
      {{"--seconds", &o.seconds}, {"--rate", &o.rate}, {"--bytes", &o.bytes}, {"--publish-to", &o.publishTo}});
  o.bytes = std::max(o.bytes, 1);
  return o;
}

// The publishing process: `rate` messages a second, sent a millisecond's
// worth at a time, for `seconds`.
int publish(const Options& o) {
  if (initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, o.publishTo, "flood-publisher", 0) != 0) {
    std::printf("publisher: no connection\n");
    return 1;
  }
  std::vector<uint8_t> payload(static_cast<size_t>(o.bytes), 0);
  const int64_t total = static_cast<int64_t>(o.rate) * o.seconds;
  int64_t sent = 0, refused = 0;
  const auto start = Clock::now();
  for (int64_t ms = 1; sent < total; ++ms) {
    const int64_t due = std::min(total, static_cast<int64_t>(o.rate) * ms / 1000);
    for (; sent < due; ++sent) {
      std::memcpy(payload.data(), &sent, std::min(payload.size(), sizeof sent));
      if (publishToMQTTConnectionWithLength(kTopic, payload.data(), o.bytes) != 0) ++refused;
    }
    std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("publisher: %lld messages in %.1f s (%.0f a second), %lld refused\n", static_cast<long long>(sent), s,
              static_cast<double>(sent) / s, static_cast<long long>(refused));
  terminateMQTTConnection();
  return 0;
}

// One flood against the link; `dsuReader` empties the queue every 100 ms.
void flood(const Options& o, const fixtures::MosquittoBroker& broker, bool dsuReader) {
  std::printf("\n== %d messages a second of %d bytes for %d s, %s\n", o.rate, o.bytes, o.seconds,
              dsuReader ? "a DSU-like reader empties the queue every 100 ms" : "nobody reads");
  if (initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, broker.port(), "flooded", 0) != 0 ||
      subscribeToMQTTConnection(kTopic) != 0) {
    std::printf("no connection to the broker\n");
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double before = benchutil::rssMiB();
  const uint64_t droppedBefore = net::mqtt::droppedMessages();
  const uint64_t droppedBytesBefore = net::mqtt::droppedBytes();

  std::atomic<bool> reading {dsuReader};
  std::atomic<uint64_t> taken {0};
  std::thread reader([&] {
    std::vector<uint8_t> pass(kDsuPassBytes);
    while (reading) {
      size_t filled = 0;
      for (int32_t n;
           filled < pass.size() && (n = net::mqtt::pollBytes(pass.data() + filled, pass.size() - filled, 0)) >= 0;) {
        filled += static_cast<size_t>(n);
        taken.fetch_add(1, std::memory_order_relaxed);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  const std::string log = broker.folder() + (dsuReader ? "/publisher-read.out" : "/publisher-unread.out");
  fixtures::ChildProcess publisher;
  publisher.start({"/proc/self/exe", "--publish-to", std::to_string(broker.port()), "--rate", std::to_string(o.rate),
                   "--seconds", std::to_string(o.seconds), "--bytes", std::to_string(o.bytes)},
                  {}, log);
  const auto start = Clock::now();
  double atTen = 0, highest = 0, highestAfterTen = 0;
  size_t deepest = 0;
  std::printf("%6s %9s %9s %11s %11s\n", "s", "RSS MiB", "queued", "queued kB", "dropped");
  std::printf("%6s %9.1f %9s %11s %11s\n", "before", before, "-", "-", "-");
  for (int second = 1; publisher.running() && second <= o.seconds + 30; ++second) {
    std::this_thread::sleep_until(start + std::chrono::seconds(second));
    const double rss = benchutil::rssMiB();
    const net::mqtt::QueueLevel level = net::mqtt::queueLevel();
    highest = std::max(highest, rss);
    deepest = std::max(deepest, level.messages);
    if (second == 10) atTen = rss;
    if (second > 10) highestAfterTen = std::max(highestAfterTen, rss);
    if (second % 10 == 0 || second == 1 || second == 5) {
      std::printf("%6d %9.1f %9zu %11.1f %11llu\n", second, rss, level.messages, static_cast<double>(level.bytes) / 1e3,
                  static_cast<unsigned long long>(net::mqtt::droppedMessages() - droppedBefore));
    }
  }
  publisher.waitExit(30000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  reading = false;
  reader.join();
  const net::mqtt::QueueLevel level = net::mqtt::queueLevel();
  const uint64_t dropped = net::mqtt::droppedMessages() - droppedBefore;
  std::printf("%s", fixtures::readFile(log).c_str());
  std::printf("received %llu: taken %llu, queued %zu, dropped %llu (%llu bytes); deepest queue %zu\n",
              static_cast<unsigned long long>(taken + level.messages + dropped),
              static_cast<unsigned long long>(taken.load()), level.messages, static_cast<unsigned long long>(dropped),
              static_cast<unsigned long long>(net::mqtt::droppedBytes() - droppedBytesBefore), deepest);
  std::printf(
      "RSS: before %.1f MiB, highest %.1f MiB (%+.1f %%); at 10 s %.1f MiB, highest after %.1f MiB (%+.1f %%)\n",
      before, highest, 100.0 * (highest - before) / before, atTen, highestAfterTen,
      atTen > 0 ? 100.0 * (highestAfterTen - atTen) / atTen : 0.0);
  terminateMQTTConnection();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it comes, also into a file
  const Options options = parse(argc, argv);
  if (options.publishTo != 0) return publish(options);
  fixtures::MosquittoBroker broker;
  flood(options, broker, true);
  flood(options, broker, false);
  return 0;
}
