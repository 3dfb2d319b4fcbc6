#include "dsu/link_settings.h"

#include "dsu/debug_log.h"
#include "telvaris.h"

namespace dsu {

LinkSettings& linkSettings() {
  static LinkSettings s;
  return s;
}

int32_t setComPorts(int32_t firstPort, int32_t lastPort, int32_t hintPort) {
  if (lastPort < firstPort || firstPort <= 0) return TLV_DSU_BAD_ARGUMENT;
  LinkSettings& s = linkSettings();
  s.firstPort = firstPort;
  s.lastPort = lastPort;
  s.hintPort = hintPort;
  return TLV_DSU_OK;
}

int32_t overrideComPortScan(int32_t flag) {
  log("Setting COM Port Scan Override to %d\n", flag);
  linkSettings().scanOverride = flag;
  return TLV_DSU_OK;
}

int32_t setScanWaitTime(int32_t ms) {
  if (ms < 0 || ms > 10000) return TLV_DSU_BAD_ARGUMENT;
  log("Altering Scan Delay to %d mS\n", ms);
  linkSettings().scanDelayMs = ms;
  return TLV_DSU_OK;
}

int32_t setScanPortWaitTime(int32_t ms) {
  LinkSettings& s = linkSettings();
  if (ms > 0) s.scanPortWaitMs = ms;
  return s.scanPortWaitMs;
}

int32_t setReadDelay(int32_t ms) {
  // A negative pause would read as weeks once the thread sleeps on it.
  if (ms < 0) return TLV_DSU_BAD_ARGUMENT;
  log("Read Delay set to %d\n", ms);
  linkSettings().readDelayMs = ms;
  return TLV_DSU_OK;
}

int32_t setBaudRate(int32_t baud) {
  log("Baud rate set to %d\n", baud);
  linkSettings().baudCode = baud;
  return TLV_DSU_OK;
}

int32_t setPacketLength(int32_t length) {
  log("Setting Packet length to %d\n", length);
  linkSettings().packetLength = length;
  return TLV_DSU_OK;
}

int32_t setSendingMode(int32_t mode) {
  log("%s", mode != 0 ? "Setting Serial 'single-step' mode\n" : "Setting Serial 'Burst' mode\n");
  linkSettings().sendingMode = mode;
  return TLV_DSU_OK;
}

int32_t setEarlyV3Support() {
  log("Adjusting protocol for 'old' Version 3 DSU's\n");
  linkSettings().earlyV3 = 1;
  return TLV_DSU_OK;
}

int32_t requestSampleRate512Hz() {
  log("Requesting a sample rate of 512Hz\n");
  linkSettings().rate512Requested = 1;
  return TLV_DSU_OK;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SetComPorts(int32_t /*reserved*/, int32_t firstPort, int32_t lastPort, int32_t hintPort) {
  return dsu::setComPorts(firstPort, lastPort, hintPort);
}

TLV_API int32_t TLV_CALL OverrideCOMPortScan(int32_t /*reserved*/, int32_t flag) {
  return dsu::overrideComPortScan(flag);
}

TLV_API int32_t TLV_CALL ActiveComPort(int32_t /*reserved*/) { return dsu::linkSettings().activeComPort; }

TLV_API int32_t TLV_CALL SetScanWaitTime(int32_t /*reserved*/, int32_t ms) { return dsu::setScanWaitTime(ms); }

TLV_API int32_t TLV_CALL SetScanPortWaitTime(int32_t ms) { return dsu::setScanPortWaitTime(ms); }

TLV_API int32_t TLV_CALL ReadDelay(int32_t ms) { return dsu::setReadDelay(ms); }

TLV_API int32_t TLV_CALL SetDSUBaudRate(int32_t /*reserved*/, int32_t baud) { return dsu::setBaudRate(baud); }

TLV_API int32_t TLV_CALL SetDSUPacketLength(int32_t /*reserved*/, int32_t length) {
  return dsu::setPacketLength(length);
}

TLV_API int32_t TLV_CALL SerialSendingMode(int32_t mode) { return dsu::setSendingMode(mode); }

TLV_API int32_t TLV_CALL GetSerialSendingMode(void) { return dsu::linkSettings().sendingMode; }

TLV_API int32_t TLV_CALL EarlyV3Support(int32_t /*reserved*/) { return dsu::setEarlyV3Support(); }

TLV_API int32_t TLV_CALL SetSampleRateTo512Hz(void) { return dsu::requestSampleRate512Hz(); }

}  // extern "C"
