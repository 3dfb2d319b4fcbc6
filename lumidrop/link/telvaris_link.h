// The fading program's calls into the telvaris library.
//
// TelvarisLink is what the forms call; LibraryTelvarisLink binds the real
// library at run time: the first call loads it by file name (from the
// program's folder, else the system's search path) and each function is
// looked up by its export name at its own first call. Strings go over as
// zero-terminated 8-bit texts owned by the caller. Once loaded, the library
// is never unloaded.
//
// Opening the connection also hands the library the "CAFile" of the
// settings file in the program's folder ([MQTT], for an ssl:// broker),
// the way the library takes it: in the environment variable
// TELVARIS_MQTT_CAFILE. Without the key the environment stays as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dynlib.h"

namespace lumidrop {

class TelvarisLink {
 public:
  virtual ~TelvarisLink() = default;
  virtual int32_t ReportVersion(int32_t& major, int32_t& minor, int32_t& build) = 0;
  virtual int32_t initialiseMQTTConnection(const std::string& serverAddress, int32_t port,
                                           const std::string& clientId, int32_t debugLevel) = 0;
  virtual int32_t subscribeToMQTTConnection(const std::string& topic) = 0;
  virtual int32_t unsubscribeFromMQTTConnection(const std::string& topic) = 0;
  virtual int32_t terminateMQTTConnection() = 0;
  // Negative: no message within the wait; 0 inhibit; 1 any other decision.
  virtual int32_t tlMQTTRetrieveFeedbackInformation() = 0;
};

class LibraryTelvarisLink : public TelvarisLink {
 public:
  // Told why when the library or an export cannot be found; expected not
  // to return (the program reports it and ends). If it does return, the
  // call throws std::runtime_error with the same text.
  using Failure = std::function<void(const std::string& why)>;

  LibraryTelvarisLink(std::string programFolder, Failure onFailure);

  int32_t ReportVersion(int32_t& major, int32_t& minor, int32_t& build) override;
  int32_t initialiseMQTTConnection(const std::string& serverAddress, int32_t port, const std::string& clientId,
                                   int32_t debugLevel) override;
  int32_t subscribeToMQTTConnection(const std::string& topic) override;
  int32_t unsubscribeFromMQTTConnection(const std::string& topic) override;
  int32_t terminateMQTTConnection() override;
  int32_t tlMQTTRetrieveFeedbackInformation() override;

  // Where the library was loaded from (empty before the first call).
  const std::string& loadedFrom() const { return loadedFrom_; }

 private:
  void* bind(const char* name, void*& slot);
  // bind() as the export's own pointer type: Fn is decltype(&::name) from
  // telvaris.h, so the compiler checks signature and calling convention.
  template <typename Fn>
  Fn bound(const char* name, void*& slot) {
    return reinterpret_cast<Fn>(bind(name, slot));
  }
  [[noreturn]] void fail(const std::string& why);

  std::string folder_;
  Failure onFailure_;
  platform::DynamicLibrary library_;
  std::string loadedFrom_;
  void* reportVersion_ = nullptr;
  void* initialise_ = nullptr;
  void* subscribe_ = nullptr;
  void* unsubscribe_ = nullptr;
  void* terminate_ = nullptr;
  void* retrieve_ = nullptr;
};

}  // namespace lumidrop
