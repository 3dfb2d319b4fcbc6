// libtelvaris as telvaris-session uses it: loaded by file name and bound
// export by export, as a host application binds it. Each pointer has the
// type decltype(&::Name), so the compiler checks it against telvaris.h.
#pragma once

#include <string>

#include "platform/dynlib.h"
#include "telvaris.h"

namespace session_tool {

#define TLV_SESSION_EXPORTS(X)                                                                                        \
  X(SetDebugMode)                                                                                                     \
  X(SetDataTransferMode) X(SetComPorts) X(SetDSUPacketLength) X(SetRecordingLength) X(ActiveComPort) X(InitialiseDSU) \
      X(TerminateDSU) X(GetSystemStatus) X(PacketsInBuffer) X(PositioningErrors) X(TotalBytesRead) X(GetP3Data)       \
          X(SetPacketNumber) X(LoadSession) X(CleanUpLoadedSession) X(ExportToCSV) X(terminateMQTTConnection)

struct TelvarisLibrary {
#define TLV_SESSION_POINTER(name) decltype(&::name) name = nullptr;
  TLV_SESSION_EXPORTS(TLV_SESSION_POINTER)
#undef TLV_SESSION_POINTER

  // Loads `path` and binds every export above. False with `error` set
  // when the library or one of them is missing.
  bool open(const std::string& path, std::string& error) {
    if (!lib_.open(path)) {
      error = "cannot load " + path + ": " + lib_.error();
      return false;
    }
    // The read thread may outlive an early exit: the library stays.
    lib_.keepLoaded();
#define TLV_SESSION_BIND(name)                                     \
  name = lib_.function<decltype(&::name)>(#name);                  \
  if (!name) {                                                     \
    error = path + " has no export " #name " (an older library?)"; \
    return false;                                                  \
  }
    TLV_SESSION_EXPORTS(TLV_SESSION_BIND)
#undef TLV_SESSION_BIND
    return true;
  }

 private:
  platform::DynamicLibrary lib_;
};

}  // namespace session_tool
