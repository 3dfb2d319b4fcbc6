// A stand-in libtelvaris for the fading program's tests: the same export
// names and signatures as the real library's version and MQTT link
// functions, without a broker. Every call is written to a log the test
// reads back; subscription results and feedback decisions are set by the
// test (through the fake's own exports, or FAKE_TELVARIS_* variables when
// the program runs as a child process).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>

#include "fake_telvaris.h"
#include "telvaris.h"

namespace {

std::mutex lock;
std::string calls;
std::deque<int32_t> feedback;
int32_t subscribeResult = 0;
bool configured = false;

// Child processes take their script from the environment, once.
void configureFromEnvironment() {
  if (configured) return;
  configured = true;
  if (const char* rc = std::getenv("FAKE_TELVARIS_SUBSCRIBE_RC")) subscribeResult = std::atoi(rc);
  if (const char* list = std::getenv("FAKE_TELVARIS_FEEDBACK")) {
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) feedback.push_back(std::atoi(item.c_str()));
  }
}

void record(const std::string& line) {
  calls += line;
  calls += '\n';
  if (const char* path = std::getenv("FAKE_TELVARIS_CALL_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fputs((line + "\n").c_str(), f);
      std::fclose(f);
    }
  }
}

}  // namespace

extern "C" {

TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build) {
  std::lock_guard<std::mutex> g(lock);
  configureFromEnvironment();
  record("ReportVersion");
  if (major) *major = 5;
  if (minor) *minor = 0;
  if (build) *build = 1;
  return 0;
}

TLV_API int32_t TLV_CALL initialiseMQTTConnection(const char* address, int32_t port, const char* clientId,
                                                  int32_t debugLevel) {
  std::lock_guard<std::mutex> g(lock);
  configureFromEnvironment();
  record(std::string("initialiseMQTTConnection ") + address + " " + std::to_string(port) + " " + clientId + " " +
         std::to_string(debugLevel));
  return 0;
}

TLV_API int32_t TLV_CALL subscribeToMQTTConnection(const char* topic) {
  std::lock_guard<std::mutex> g(lock);
  configureFromEnvironment();
  record(std::string("subscribeToMQTTConnection ") + topic);
  return subscribeResult;
}

TLV_API int32_t TLV_CALL unsubscribeFromMQTTConnection(const char* topic) {
  std::lock_guard<std::mutex> g(lock);
  record(std::string("unsubscribeFromMQTTConnection ") + topic);
  return 0;
}

TLV_API int32_t TLV_CALL terminateMQTTConnection() {
  std::lock_guard<std::mutex> g(lock);
  record("terminateMQTTConnection");
  return 0;
}

#ifndef FAKE_WITHOUT_RETRIEVE
TLV_API int32_t TLV_CALL tlMQTTRetrieveFeedbackInformation() {
  std::lock_guard<std::mutex> g(lock);
  configureFromEnvironment();
  if (feedback.empty()) return -1;
  const int32_t r = feedback.front();
  feedback.pop_front();
  record("tlMQTTRetrieveFeedbackInformation " + std::to_string(r));
  return r;
}
#endif

// The test's handles on the fake.
TLV_API void fakeTelvarisReset() {
  std::lock_guard<std::mutex> g(lock);
  calls.clear();
  feedback.clear();
  subscribeResult = 0;
  configured = true;
}

TLV_API void fakeTelvarisSetSubscribeResult(int32_t rc) {
  std::lock_guard<std::mutex> g(lock);
  subscribeResult = rc;
}

TLV_API void fakeTelvarisQueueFeedback(int32_t decision) {
  std::lock_guard<std::mutex> g(lock);
  feedback.push_back(decision);
}

TLV_API int32_t fakeTelvarisCalls(char* buffer, int32_t size) {
  std::lock_guard<std::mutex> g(lock);
  if (buffer && size > 0) {
    const size_t n = std::min(calls.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, calls.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(calls.size());
}

}  // extern "C"
