"""The Python package over the real library and the DSU simulator.

TELVARIS_LIBRARY names the library under test, DSU_SIM the simulator
program (default: the one on PATH)."""
import os
import pathlib
import re
import shutil
import subprocess
import time

import numpy as np
import pytest

import telvaris
from telvaris import _header, _library

HEADER = pathlib.Path(os.environ.get("TELVARIS_HEADER",
                                     pathlib.Path(__file__).parents[2] / "telvaris" / "include" / "telvaris.h"))


def p3_packets(channels, counters, aux):
    """14-byte P3 packets, laid out by hand: counter, aux, then per pair of
    channels the low seven bits of each and a byte of their high bits; the
    last byte carries the frame marker."""
    out = bytearray()
    for values, counter, auxiliary in zip(channels, counters, aux):
        packet = [counter << 1, auxiliary]
        for k in range(4):
            even, odd = int(values[2 * k]), int(values[2 * k + 1])
            packet += [even & 0x7F, odd & 0x7F, ((even >> 7) & 0x7) << 4 | ((odd >> 7) & 0xF)]
        packet[-1] |= 0x80
        out += bytes(packet)
    return bytes(out)


@pytest.fixture
def simulator(tmp_path):
    program = os.environ.get("DSU_SIM") or shutil.which("dsu-sim")
    if not program:
        pytest.skip("no dsu-sim (set DSU_SIM)")
    started = []

    def start(replay):
        log = open(tmp_path / "sim.log", "w+")
        process = subprocess.Popen([program, "--tcp", "0", "--replay", str(replay)], stdout=log,
                                   stderr=subprocess.STDOUT, env=dict(os.environ, TELVARIS_ROOT=str(tmp_path)))
        started.append(process)
        for _ in range(100):
            log.seek(0)
            found = re.search(r"ready on tcp 127\.0\.0\.1:(\d+)", log.read())
            if found:
                return int(found.group(1))
            time.sleep(0.05)
        raise RuntimeError("the simulator did not start")

    yield start
    for process in started:
        process.terminate()
        process.wait(10)


def test_the_prototype_table_is_the_headers():
    assert _library.PROTOTYPES == _header.declarations(HEADER.read_text())


def test_a_recording_holds_what_the_simulator_sent_live_and_in_its_file(simulator, tmp_path):
    rng = np.random.default_rng(7)
    count = 512
    channels = np.zeros((count, 8), np.int32)
    channels[:, 0::2] = rng.integers(0, 1 << 10, (count, 4))  # even channels: 10 bits
    channels[:, 1::2] = rng.integers(0, 1 << 11, (count, 4))  # odd channels: 11 bits
    counters = np.arange(count) % 64
    aux = rng.integers(0, 100, count)
    sent = tmp_path / "sent.p3"
    sent.write_bytes(p3_packets(channels, counters, aux))

    telvaris.set_packet_length(14)
    telvaris.set_recording_length(1)
    telvaris.use_tcp("127.0.0.1", simulator(sent))
    parts = []
    saved = tmp_path / "saved.p3"
    with telvaris.Session() as session:
        session.wait_until_streaming()
        deadline = time.monotonic() + 30
        taken = 0
        while taken < count and time.monotonic() < deadline:
            parts.append(session.packets(limit=count - taken))
            taken += len(parts[-1][1])
            time.sleep(0.05)
        first = session.epoch(0, epochs=1, sequential=True)
        session.stop(save_to=saved)

    live = np.vstack([p[0] for p in parts])
    assert live.shape == (count, 32)
    np.testing.assert_array_equal(live[:, :8], channels)
    assert not live[:, 8:].any()
    np.testing.assert_array_equal(np.concatenate([p[1] for p in parts]), counters)
    np.testing.assert_array_equal(np.concatenate([p[2] for p in parts]), aux)
    # The first second of channel 0, raw, as an array.
    assert first.dtype == np.int32 and first.shape == (256,)
    np.testing.assert_array_equal(first, channels[:256, 0])

    # The session file is what came over the line (the simulator goes round
    # its file again until the session ends); read back it gives the same.
    recorded = saved.read_bytes()
    assert len(recorded) % 14 == 0 and recorded.startswith(sent.read_bytes())
    loaded = telvaris.load_session(saved, packet_length=14)
    assert len(loaded) == len(recorded) // 14 and loaded.duration() == len(loaded) / 256
    np.testing.assert_array_equal(loaded.channels[:count, :8], channels)
    csv = tmp_path / "saved.csv"
    telvaris.export_csv(saved, csv)
    lines = csv.read_text().splitlines()
    assert lines[0].startswith("Line #,PacketCounter,AuxByte,Channel0")
    assert len(lines) == len(loaded) + 1


def test_failure_codes_are_raised_and_results_that_are_not_failures_are_not():
    with pytest.raises(telvaris.TelvarisError) as failure:
        telvaris.set_recording_length(0)
    assert failure.value.code == -1 and failure.value.function == "SetRecordingLength"
    with pytest.raises(telvaris.TelvarisError) as failure:
        telvaris.load_session("/nonexistent/session.p3")
    assert failure.value.code == -1
    with pytest.raises(ValueError):
        telvaris.set_packet_length(13)
    with pytest.raises(ValueError):
        telvaris.linear_regression([1, 1, 1], [1, 2, 3])

    # A one-packet file: the packet, then "no new packet", which is no error.
    values, counter, aux = telvaris.decode_packet(bytes.fromhex("0201") + bytes([5, 6, 0x21, 7, 8, 0x43, 9, 10, 0x65,
                                                                                   11, 12, 0xF7]))
    assert list(values[:8]) == [261, 134, 519, 392, 777, 650, 907, 908] and counter == 1 and aux == 1


def test_version_and_small_computations():
    assert telvaris.version() == "5.0.1"
    slope, intercept, r = telvaris.linear_regression([0, 1, 2, 3], [1, 3, 5, 7])
    assert (slope, intercept) == pytest.approx((2.0, 1.0)) and r == pytest.approx(1.0)
    assert telvaris.correlation([1, 2, 3, 4], [4, 3, 2, 1]) == pytest.approx(-1.0)
