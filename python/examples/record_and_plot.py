"""Records a few seconds from a DSU (or the simulator) and plots channels.

    dsu-sim --tcp 5000 &
    python record_and_plot.py --tcp 127.0.0.1:5000 --seconds 5 --png eeg.png
"""
import argparse
import time

import matplotlib

matplotlib.use("Agg")  # a file, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import telvaris  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tcp", metavar="HOST:PORT", help="the DSU over TCP/IP (default: scan the serial ports)")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--channels", default="0,1", help="channels to plot (default 0,1)")
    parser.add_argument("--session", help="also save the session file here")
    parser.add_argument("--png", default="session.png")
    args = parser.parse_args()

    if args.tcp:
        host, port = args.tcp.rsplit(":", 1)
        telvaris.use_tcp(host, int(port))
    else:
        telvaris.use_serial()
    print(f"telvaris {telvaris.version()}")

    parts = []
    with telvaris.Session() as session:
        session.wait_until_streaming()
        end = time.monotonic() + args.seconds
        while time.monotonic() < end:
            parts.append(session.packets()[0])
            time.sleep(0.1)
        parts.append(session.packets()[0])
        session.stop(save_to=args.session)
    channels = np.vstack(parts)
    print(f"{len(channels)} packets in {args.seconds:g} s")

    seconds = np.arange(len(channels)) / 256.0
    chosen = [int(c) for c in args.channels.split(",")]
    figure, axes = plt.subplots(len(chosen), 1, sharex=True, figsize=(10, 2.2 * len(chosen)), squeeze=False)
    for axis, channel in zip(axes[:, 0], chosen):
        axis.plot(seconds, channels[:, channel], linewidth=0.6)
        axis.set_ylabel(f"channel {channel}")
    axes[-1, 0].set_xlabel("seconds")
    figure.tight_layout()
    figure.savefig(args.png, dpi=100)
    print(f"plot: {args.png}")


if __name__ == "__main__":
    main()
