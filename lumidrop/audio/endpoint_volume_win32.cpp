// The endpoint volume on Windows: Core Audio through COM. Creation asks the
// device enumerator for the default render endpoint of the moment and
// activates its IAudioEndpointVolume; every operation is that interface's
// method of the same name. The calling thread must be in a COM apartment
// already (the program's window thread is a single-threaded one).
#include "audio/endpoint_volume.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace lumidrop::audio {

static_assert(sizeof(Guid) == sizeof(GUID), "a Guid is laid out as the system's GUID");

namespace {

// The identifiers, as text: turned into GUIDs by the system's own parser.
constexpr const wchar_t* kEventContextId = L"{5929DCA2-52B8-449B-8A58-FDF6750634DA}";
constexpr const wchar_t* kEnumeratorClassId = L"{BCDE0395-E52F-467C-8E3D-C4579291692E}";
constexpr const wchar_t* kEnumeratorInterfaceId = L"{A95664D2-9614-4F35-A746-DE8DB63617E6}";
constexpr const wchar_t* kEndpointVolumeInterfaceId = L"{5CDF2C82-841E-4546-9722-0CF74078229A}";

GUID guidOf(const wchar_t* text) {
  GUID g{};
  IIDFromString(text, &g);
  return g;
}

Guid ourGuid(const GUID& g) {
  Guid out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  std::copy(std::begin(g.Data4), std::end(g.Data4), std::begin(out.data4));
  return out;
}

// A client's callback as the system calls it: a COM object of its own that
// hands each notification on.
class CallbackBridge : public IAudioEndpointVolumeCallback {
 public:
  explicit CallbackBridge(AudioEndpointVolumeCallback* client) : client_(client) {}
  virtual ~CallbackBridge() = default;

  AudioEndpointVolumeCallback* client() const { return client_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, __uuidof(IAudioEndpointVolumeCallback))) {
      *out = static_cast<IAudioEndpointVolumeCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // The system's own thread; no exception may leave it.
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
    if (!data) return E_POINTER;
    try {
      VolumeNotification n;
      n.eventContext = ourGuid(data->guidEventContext);
      n.muted = data->bMuted != FALSE;
      n.masterVolume = data->fMasterVolume;
      n.channelVolumes.assign(data->afChannelVolumes, data->afChannelVolumes + data->nChannels);
      client_->OnNotify(n);
    } catch (...) {
      return E_FAIL;
    }
    return S_OK;
  }

 private:
  LONG references_ = 1;
  AudioEndpointVolumeCallback* client_;
};

}  // namespace

struct CAudioEndpointVolume::Device {
  IMMDeviceEnumerator* deviceEnumerator = nullptr;
  IMMDevice* audioDevice = nullptr;
  IAudioEndpointVolume* endpointVolume = nullptr;
  std::vector<CallbackBridge*> callbacks;

  ~Device() {
    // No notification may reach a client once the instance has gone.
    for (CallbackBridge* bridge : callbacks) {
      if (endpointVolume) endpointVolume->UnregisterControlChangeNotify(bridge);
      bridge->Release();
    }
    if (audioDevice) audioDevice->Release();
    if (endpointVolume) endpointVolume->Release();
    if (deviceEnumerator) deviceEnumerator->Release();
  }
};

CAudioEndpointVolume::CAudioEndpointVolume() : device_(std::make_shared<Device>()) {
  eventContext_ = ourGuid(guidOf(kEventContextId));
  const GUID enumeratorClass = guidOf(kEnumeratorClassId);
  const GUID enumeratorInterface = guidOf(kEnumeratorInterfaceId);
  const GUID endpointInterface = guidOf(kEndpointVolumeInterfaceId);
  Device& d = *device_;

  lastHResult_ = CoCreateInstance(enumeratorClass, nullptr, CLSCTX_INPROC_SERVER, enumeratorInterface,
                                  reinterpret_cast<void**>(&d.deviceEnumerator));
  if (lastHResult_ != S_OK) {
    d.deviceEnumerator = nullptr;
    return;
  }
  lastHResult_ = d.deviceEnumerator->GetDefaultAudioEndpoint(eRender, eConsole, &d.audioDevice);
  if (lastHResult_ != S_OK) {
    d.audioDevice = nullptr;
    return;
  }
  lastHResult_ = d.audioDevice->Activate(endpointInterface, CLSCTX_ALL, nullptr,
                                         reinterpret_cast<void**>(&d.endpointVolume));
  if (lastHResult_ != S_OK) d.endpointVolume = nullptr;
}

CAudioEndpointVolume::~CAudioEndpointVolume() = default;

bool CAudioEndpointVolume::bound() const { return device_ && device_->endpointVolume; }

std::string CAudioEndpointVolume::deviceName() const {
  if (!bound() || !device_->audioDevice) return {};
  LPWSTR id = nullptr;
  if (device_->audioDevice->GetId(&id) != S_OK || !id) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, id, -1, nullptr, 0, nullptr, nullptr);
  std::string name(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, id, -1, name.data(), size, nullptr, nullptr);
  CoTaskMemFree(id);
  if (!name.empty()) name.pop_back();  // the terminating zero
  return name;
}

namespace {

// The interface of a bound instance, else nullptr with E_POINTER kept: an
// instance that reached no device touches nothing.
IAudioEndpointVolume* endpointOf(const std::shared_ptr<CAudioEndpointVolume::Device>& d, int32_t& hr) {
  if (d && d->endpointVolume) return d->endpointVolume;
  hr = kEPointer;
  return nullptr;
}

}  // namespace

int32_t CAudioEndpointVolume::GetChannelCount() {
  UINT count = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetChannelCount(&count);
  return static_cast<int32_t>(count);
}

float CAudioEndpointVolume::GetChannelVolumeLevel(uint32_t channel) {
  float level = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetChannelVolumeLevel(channel, &level);
  return level;
}

float CAudioEndpointVolume::GetChannelVolumeLevelScalar(uint32_t channel) {
  float level = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetChannelVolumeLevelScalar(channel, &level);
  return level;
}

float CAudioEndpointVolume::GetMasterVolumeLevel() {
  float level = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetMasterVolumeLevel(&level);
  return level;
}

float CAudioEndpointVolume::GetMasterVolumeLevelScalar() {
  float level = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetMasterVolumeLevelScalar(&level);
  return level;
}

int32_t CAudioEndpointVolume::GetMute() {
  BOOL mute = FALSE;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetMute(&mute);
  return mute;
}

void CAudioEndpointVolume::GetVolumeRange(float& minimumDb, float& maximumDb, float& incrementDb) {
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->GetVolumeRange(&minimumDb, &maximumDb, &incrementDb);
}

void CAudioEndpointVolume::GetVolumeStepInfo(uint32_t& step, uint32_t& stepCount) {
  UINT s = 0, count = 0;
  auto* v = endpointOf(device_, lastHResult_);
  if (!v) return;
  lastHResult_ = v->GetVolumeStepInfo(&s, &count);
  if (lastHResult_ != S_OK) return;
  step = s;
  stepCount = count;
}

int32_t CAudioEndpointVolume::QueryHardwareSupport() {
  DWORD mask = 0;
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->QueryHardwareSupport(&mask);
  return static_cast<int32_t>(mask);
}

void CAudioEndpointVolume::RegisterControlChangeNotify(AudioEndpointVolumeCallback* callback) {
  auto* v = endpointOf(device_, lastHResult_);
  if (!v) return;
  if (!callback) {
    lastHResult_ = kEPointer;
    return;
  }
  auto& bridges = device_->callbacks;
  if (std::any_of(bridges.begin(), bridges.end(), [callback](auto* b) { return b->client() == callback; })) {
    lastHResult_ = S_OK;
    return;
  }
  auto* bridge = new CallbackBridge(callback);
  lastHResult_ = v->RegisterControlChangeNotify(bridge);
  if (lastHResult_ == S_OK) {
    bridges.push_back(bridge);
  } else {
    bridge->Release();
  }
}

void CAudioEndpointVolume::UnregisterControlChangeNotify(AudioEndpointVolumeCallback* callback) {
  auto* v = endpointOf(device_, lastHResult_);
  if (!v) return;
  auto& bridges = device_->callbacks;
  auto it = std::find_if(bridges.begin(), bridges.end(), [callback](auto* b) { return b->client() == callback; });
  if (it == bridges.end()) {
    lastHResult_ = kEInvalidArg;
    return;
  }
  CallbackBridge* bridge = *it;
  bridges.erase(it);
  lastHResult_ = v->UnregisterControlChangeNotify(bridge);
  bridge->Release();
}

namespace {
// The same sixteen bytes, as the interface takes them.
const GUID* contextOf(const Guid& g) { return reinterpret_cast<const GUID*>(&g); }
}  // namespace

void CAudioEndpointVolume::SetChannelVolumeLevel(uint32_t channel, float levelDb) {
  if (auto* v = endpointOf(device_, lastHResult_))
    lastHResult_ = v->SetChannelVolumeLevel(channel, levelDb, contextOf(eventContext_));
}

void CAudioEndpointVolume::SetChannelVolumeLevelScalar(uint32_t channel, float level) {
  if (auto* v = endpointOf(device_, lastHResult_))
    lastHResult_ = v->SetChannelVolumeLevelScalar(channel, level, contextOf(eventContext_));
}

void CAudioEndpointVolume::SetMasterVolumeLevel(float levelDb) {
  if (auto* v = endpointOf(device_, lastHResult_))
    lastHResult_ = v->SetMasterVolumeLevel(levelDb, contextOf(eventContext_));
}

void CAudioEndpointVolume::SetMasterVolumeLevelScalar(float level) {
  if (auto* v = endpointOf(device_, lastHResult_))
    lastHResult_ = v->SetMasterVolumeLevelScalar(level, contextOf(eventContext_));
}

void CAudioEndpointVolume::SetMute(int32_t mute) {
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->SetMute(mute != 0, contextOf(eventContext_));
}

void CAudioEndpointVolume::VolumeStepDown() {
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->VolumeStepDown(contextOf(eventContext_));
}

void CAudioEndpointVolume::VolumeStepUp() {
  if (auto* v = endpointOf(device_, lastHResult_)) lastHResult_ = v->VolumeStepUp(contextOf(eventContext_));
}

bool soundServerAnswers() {
  CAudioEndpointVolume probe;
  return probe.bound();
}

}  // namespace lumidrop::audio
