#include "link/telvaris_link.h"

#include <cctype>
#include <stdexcept>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "settings/mod_options.h"
#include "telvaris.h"

namespace lumidrop {
namespace {

bool isAbsolutePath(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// Read when the connection is opened, on the window thread, before the
// library starts any thread of its own that could read the environment.
void handCAFileToLibrary(const std::string& programFolder) {
  std::string caFile = platform::getPrivateProfileString(kCAFileSection, kCAFileKey, "", kSettingBufferSize,
                                                         platform::joinPath(programFolder, kSettingsFileName));
  if (caFile.empty()) return;
  if (!isAbsolutePath(caFile)) caFile = platform::joinPath(programFolder, caFile);
  platform::setEnvironment(TLV_MQTT_CAFILE_VARIABLE, caFile);
}

}  // namespace

LibraryTelvarisLink::LibraryTelvarisLink(std::string programFolder, Failure onFailure)
    : folder_(std::move(programFolder)), onFailure_(std::move(onFailure)) {}

void LibraryTelvarisLink::fail(const std::string& why) {
  if (onFailure_) onFailure_(why);
  throw std::runtime_error(why);
}

void* LibraryTelvarisLink::bind(const char* name, void*& slot) {
  if (slot) return slot;
  const std::string file = platform::libraryFileName("telvaris");
  if (!library_.isOpen()) {
    // The program's own folder first, as Windows looks for a DLL, then the
    // system's search path.
    const std::string local = platform::joinPath(folder_, file);
    if (platform::fileExists(local) && library_.open(local)) {
      loadedFrom_ = local;
    } else if (library_.open(file)) {
      loadedFrom_ = file;
    } else {
      fail("cannot load the telvaris library: " + file + " is neither in " + folder_ +
           " nor on the system's library search path (" + library_.error() + ")");
    }
    // Never unloaded: when the program ends without terminateMQTTConnection
    // (closing the window, a refused link) the library's client threads
    // still run its code, and the connection lives until the process ends.
    library_.keepLoaded();
  }
  slot = library_.symbol(name);
  if (!slot) fail("the telvaris library " + loadedFrom_ + " has no function named " + name);
  return slot;
}

int32_t LibraryTelvarisLink::ReportVersion(int32_t& major, int32_t& minor, int32_t& build) {
  auto fn = bound<decltype(&::ReportVersion)>("ReportVersion", reportVersion_);
  return fn(&major, &minor, &build);
}

int32_t LibraryTelvarisLink::initialiseMQTTConnection(const std::string& serverAddress, int32_t port,
                                                      const std::string& clientId, int32_t debugLevel) {
  auto fn = bound<decltype(&::initialiseMQTTConnection)>("initialiseMQTTConnection", initialise_);
  handCAFileToLibrary(folder_);
  return fn(serverAddress.c_str(), port, clientId.c_str(), debugLevel);
}

int32_t LibraryTelvarisLink::subscribeToMQTTConnection(const std::string& topic) {
  auto fn = bound<decltype(&::subscribeToMQTTConnection)>("subscribeToMQTTConnection", subscribe_);
  return fn(topic.c_str());
}

int32_t LibraryTelvarisLink::unsubscribeFromMQTTConnection(const std::string& topic) {
  auto fn = bound<decltype(&::unsubscribeFromMQTTConnection)>("unsubscribeFromMQTTConnection", unsubscribe_);
  return fn(topic.c_str());
}

int32_t LibraryTelvarisLink::terminateMQTTConnection() {
  auto fn = bound<decltype(&::terminateMQTTConnection)>("terminateMQTTConnection", terminate_);
  return fn();
}

int32_t LibraryTelvarisLink::tlMQTTRetrieveFeedbackInformation() {
  auto fn = bound<decltype(&::tlMQTTRetrieveFeedbackInformation)>("tlMQTTRetrieveFeedbackInformation", retrieve_);
  return fn();
}

}  // namespace lumidrop
