// The ALSA sequencer road: one client with one output port per object,
// opened at its first open and kept until the object goes, each short
// message sent at once to the chosen port.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "midi_out_alsa_seq.h"

namespace platform {
namespace {

class AlsaSeqOut : public MidiOut {
 public:
  explicit AlsaSeqOut(std::string port) : port_(std::move(port)) {}
  ~AlsaSeqOut() override {
    if (parser_) snd_midi_event_free(parser_);
    if (seq_) snd_seq_close(seq_);
  }
  AlsaSeqOut(const AlsaSeqOut&) = delete;
  AlsaSeqOut& operator=(const AlsaSeqOut&) = delete;

  bool open() override {
    if (!tried_) {
      tried_ = true;
      connected_ = connect();
    }
    open_ = connected_;
    return open_;
  }

  void shortMessage(uint32_t message) override {
    if (!open_) return;
    const unsigned char bytes[3] = {static_cast<unsigned char>(message), static_cast<unsigned char>(message >> 8),
                                    static_cast<unsigned char>(message >> 16)};
    // Program change and channel pressure carry one data byte.
    const int status = bytes[0] & 0xF0;
    const long length = (status == 0xC0 || status == 0xD0) ? 2 : 3;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_midi_event_reset_encode(parser_);
    if (snd_midi_event_encode(parser_, bytes, length, &event) != length || event.type == SND_SEQ_EVENT_NONE) return;
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(ownPort_));
    snd_seq_ev_set_dest(&event, target_.client, target_.port);
    snd_seq_ev_set_direct(&event);
    snd_seq_event_output_direct(seq_, &event);
  }

  void close() override { open_ = false; }

 private:
  bool connect() {
    if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
      seq_ = nullptr;
      return false;
    }
    snd_seq_set_client_name(seq_, "telvaris");
    ownPort_ = snd_seq_create_simple_port(seq_, "MIDI voice", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (ownPort_ < 0) return false;
    if (snd_seq_parse_address(seq_, &target_, port_.c_str()) < 0) return false;
    // Connected, so the port's user sees where the notes come from.
    if (snd_seq_connect_to(seq_, ownPort_, target_.client, target_.port) < 0) return false;
    return snd_midi_event_new(16, &parser_) >= 0;
  }

  std::string port_;
  snd_seq_t* seq_ = nullptr;
  snd_midi_event_t* parser_ = nullptr;
  snd_seq_addr_t target_ {};
  int ownPort_ = -1;
  bool tried_ = false;
  bool connected_ = false;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<MidiOut> makeAlsaSeqMidiOut(const std::string& port) { return std::make_unique<AlsaSeqOut>(port); }

}  // namespace platform
