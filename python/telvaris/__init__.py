"""Python access to the telvaris biofeedback library.

A thin layer over the library's C interface (through ctypes): acquisition
from the DSU on its serial, TCP/IP, MQTT and relay roads, session files,
epochs and the shared feedback block. Failure codes become TelvarisError;
results that are not failures (no new packet yet, say) do not. Decoded
packets and epochs come out as numpy arrays. Every export is also reachable
as it is, typed, through `telvaris.raw`.

    import telvaris
    telvaris.use_tcp("127.0.0.1", 5000)
    with telvaris.Session() as session:
        session.wait_until_streaming()
        ...
        channels, counters, aux = session.packets()
"""
import ctypes
import time

import numpy as np

from . import _library

__all__ = [
    "TelvarisError", "raw", "version", "STATUS_NAMES", "use_serial", "use_tcp", "use_mqtt", "set_packet_length",
    "set_recording_length", "set_read_delay", "Session", "SessionData", "load_session", "export_csv",
    "decode_packet", "feedback_status", "set_feedback_status", "correlation", "linear_regression",
]

raw = _library.load()

# The session statuses and their names, as the library's log gives them.
STATUS_NAMES = {
    0: "System OK", 1: "Waiting for DSU", 2: "End of memory", 3: "Memory Allocation Failure",
    4: "Serial Port Failure", 5: "CloseDown Complete", 6: "Allocating Memory", 7: "Initialising DSU",
    8: "DSU Paused", 9: "Waiting for DATA",
}
SYSTEM_OK, PAUSED, WAITING_FOR_DATA = 0, 8, 9
_FAILED_STATUSES = {2, 3, 4, 5}

# Roads of the DSU stream.
SERIAL, TCPIP, MQTT, RELAY, RELAY_MONITOR = 0, 1, 2, 3, 4


class TelvarisError(Exception):
    """A failure code from one of the library's exports."""

    def __init__(self, function, code, meaning=""):
        self.function = function
        self.code = code
        super().__init__(f"{function} failed with {code}" + (f": {meaning}" if meaning else ""))


def _check(function, code, meanings=None):
    if code < 0:
        raise TelvarisError(function, code, (meanings or {}).get(code, ""))
    return code


def _text(value):
    return value.encode() if isinstance(value, str) else value


def version():
    """The library's version as "major.minor.build"."""
    parts = [ctypes.c_int32() for _ in range(3)]
    raw.ReportVersion(*[ctypes.byref(p) for p in parts])
    return ".".join(str(p.value) for p in parts)


# --- The DSU link -----------------------------------------------------------

def _set_road(mode, address="", port=0, user_id="", publish="", subscribe="", first="", second="", last=""):
    road = raw.SetDataTransferMode(mode, _text(address), port, _text(user_id), _text(publish), _text(subscribe),
                                   _text(first), _text(second), _text(last))
    if road < 0:
        raise TelvarisError("SetDataTransferMode", road, "a text is missing or longer than its field")
    return road


def use_serial(hint_port=0):
    """The DSU on a serial port, found by the port scan (COM `hint_port` first)."""
    _set_road(SERIAL)
    if hint_port:
        _check("SetComPorts", raw.SetComPorts(0, 1, max(hint_port, 50), hint_port))


def use_tcp(address, port):
    """The DSU served over TCP/IP at address:port."""
    _set_road(TCPIP, address, port)


def use_mqtt(broker, port, publish_topic, subscribe_topic, user_id="", relay=False, monitor=False,
             first="", second="", last=""):
    """The DSU's stream through an MQTT broker: directly (start and stop
    payloads), or through the relay service (relay=True; monitor=True starts
    it in monitor mode)."""
    mode = (RELAY_MONITOR if monitor else RELAY) if relay else MQTT
    _set_road(mode, broker, port, user_id, publish_topic, subscribe_topic, first, second, last)


def set_packet_length(length):
    """The unit's packet length in bytes: 5, 8, 11, 14 or 50."""
    if length not in (5, 8, 11, 14, 50):
        raise ValueError(f"packet length {length}: the unit sends 5, 8, 11, 14 or 50 bytes")
    raw.SetDSUPacketLength(0, length)


def set_recording_length(minutes):
    """Storage for this many minutes (1 to 9986) from the next session on."""
    _check("SetRecordingLength", raw.SetRecordingLength(minutes), {-1: "outside 1 to 9986 minutes"})


def set_read_delay(ms):
    """The read thread's wait between reads, in milliseconds."""
    _check("ReadDelay", raw.ReadDelay(ms), {-1: "a negative delay"})


# --- Decoded packets ------------------------------------------------------

def _drain(limit=None):
    """Every decoded packet not yet handed out: (channels N x 32, counters, aux)."""
    channels, counters, aux = [], [], []
    values = (ctypes.c_int32 * 32)()
    fmt, counter, auxiliary = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32()
    while limit is None or len(counters) < limit:
        code = raw.GetP3Data(values, 32, ctypes.byref(fmt), ctypes.byref(counter), ctypes.byref(auxiliary))
        if code in (-1, -2):  # nothing new, or nothing decoded yet: not failures
            break
        if code == -3 and raw.GetSystemStatus(0) in (PAUSED, WAITING_FOR_DATA):
            break
        _check("GetP3Data", code, {-3: "no session delivers data", -4: "bad argument"})
        channels.append(np.frombuffer(values, dtype=np.int32).copy())
        counters.append(counter.value)
        aux.append(auxiliary.value)
    if not counters:
        return np.zeros((0, 32), np.int32), np.zeros(0, np.int32), np.zeros(0, np.int32)
    return np.vstack(channels), np.array(counters, np.int32), np.array(aux, np.int32)


def decode_packet(packet):
    """One P3 packet's bytes decoded: (channels (32 values), counter, aux)."""
    data = bytes(packet)
    values = (ctypes.c_int32 * 32)()
    counter, aux = ctypes.c_int32(), ctypes.c_int32()
    buffer = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data or b"\0")
    raw.StandaloneDecodeP3Packet(values, buffer, len(data), ctypes.byref(counter), ctypes.byref(aux))
    return np.frombuffer(values, dtype=np.int32).copy(), counter.value, aux.value


def _epoch(channel, epochs, sequential, filtered):
    values = np.zeros(epochs * 256, dtype=np.int32)
    code = raw.GetEpoch(0, channel, values.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)), epochs,
                        1 if sequential else 0, 0 if filtered else 1)
    if code == -1:
        return None  # not enough data yet: not a failure
    _check("GetEpoch", code, {-2: "unknown channel", -3: "no session delivers data", -4: "bad argument"})
    return values


class Session:
    """A live DSU session on the road chosen before (use_serial, use_tcp,
    use_mqtt). Use it in a with block, or call start() and stop()."""

    def __init__(self):
        self.running = False

    def start(self):
        if raw.InitialiseDSU(0) != 0:
            raise TelvarisError("InitialiseDSU", 1, "no session thread (an earlier one still ends?)")
        self.running = True
        return self

    def status(self):
        return raw.GetSystemStatus(0)

    def status_name(self):
        return STATUS_NAMES.get(self.status(), "Unknown status")

    def wait_until_streaming(self, timeout=10.0):
        """Waits for data to flow; raises TelvarisError when the session fails."""
        deadline = time.monotonic() + timeout
        while True:
            status = self.status()
            if status == SYSTEM_OK:
                return
            if status in _FAILED_STATUSES:
                raise TelvarisError("InitialiseDSU", -status, STATUS_NAMES[status])
            if time.monotonic() > deadline:
                raise TimeoutError(f"no data within {timeout} s ({STATUS_NAMES.get(status, status)})")
            time.sleep(0.05)

    def packets(self, limit=None):
        """The packets decoded since the last call: channels (N x 32 array),
        counters and auxiliary bytes (-1 marks a button press)."""
        return _drain(limit)

    def epoch(self, channel, epochs=1, sequential=False, filtered=False):
        """epochs x 256 samples of channel 0-7 as an array, or None while the
        session does not hold that many yet."""
        return _epoch(channel, epochs, sequential, filtered)

    def mark_button(self):
        raw.SetManualButton(0, 0)

    def pause(self):
        raw.PauseRecording(0)

    def resume(self):
        raw.ResumeRecording(0)

    def bytes_read(self):
        return raw.TotalBytesRead(0)

    def stop(self, save_to=None):
        """Ends the session, saving what was received to `save_to` when given."""
        if not self.running:
            return
        code = raw.TerminateDSU(0, 1 if save_to else 0, _text(str(save_to)) if save_to else b"")
        if code < 0:
            raise TelvarisError("TerminateDSU", code, f"{save_to} could not be written (the data is kept)")
        self.running = False

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        if self.running:
            raw.TerminateDSU(0, 0, b"")
            self.running = False


# --- Session files --------------------------------------------------------

_LOAD_MEANINGS = {-1: "cannot open the file", -2: "short read", -3: "a session is running"}


class SessionData:
    """A session file's packets: channels (N x 32), counters and aux bytes."""

    def __init__(self, channels, counters, aux):
        self.channels, self.counters, self.aux = channels, counters, aux

    def __len__(self):
        return len(self.counters)

    @property
    def button_marks(self):
        """Indexes of the packets marked by the button."""
        return np.flatnonzero(self.aux == -1)

    def duration(self, packets_per_second=256):
        return len(self) / packets_per_second


def load_session(path, packet_length=None):
    """Reads a session file (decoded with `packet_length`, or the current
    length) and hands its packets out."""
    if packet_length is not None:
        set_packet_length(packet_length)
    code = raw.LoadSession(_text(str(path)))
    if code == 1:
        raise MemoryError(f"LoadSession: no memory for {path}")
    _check("LoadSession", code, _LOAD_MEANINGS)
    try:
        return SessionData(*_drain())
    finally:
        raw.CleanUpLoadedSession()


def export_csv(session_path, csv_path):
    """Writes a session file as CSV text."""
    code = raw.ExportToCSV(_text(str(session_path)), _text(str(csv_path)))
    if code == 1:
        raise MemoryError(f"ExportToCSV: no memory for {session_path}")
    _check("ExportToCSV", code, {**_LOAD_MEANINGS, -1: "cannot open the session or write the CSV file"})


# --- The shared feedback block ------------------------------------------------

def feedback_status():
    """0 none, 1 inhibit, 2 reward."""
    return raw.tlAPIGetFeedbackStatus()


def set_feedback_status(status):
    raw.tlAPISetFeedbackStatus(status)


# --- Signal processing ----------------------------------------------------

def _doubles(values):
    array = np.ascontiguousarray(values, dtype=np.float64)
    return array, array.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def correlation(x, y):
    """Pearson's correlation of two equally long series."""
    xs, px = _doubles(x)
    ys, py = _doubles(y)
    if len(xs) != len(ys):
        raise ValueError("series of different lengths")
    return raw.correl(px, py, len(xs))


def linear_regression(x, y):
    """(slope, intercept, correlation coefficient) of y on x."""
    xs, px = _doubles(x)
    ys, py = _doubles(y)
    if len(xs) != len(ys):
        raise ValueError("series of different lengths")
    slope, intercept, coefficient = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
    code = raw.LinearRegression(len(xs), px, py, ctypes.byref(slope), ctypes.byref(intercept), ctypes.byref(coefficient))
    if code == 1:
        raise ValueError("the x values do not vary: no line fits")
    _check("LinearRegression", code)
    return slope.value, intercept.value, coefficient.value
