#!/usr/bin/python3
"""Linux-side peers for the Windows build's tests under wine
(tests/windows/run-wine-tests.sh).

  peers.py oracle PORTFILE ORACLE   serves tests/dsp/oracle.py: each
                                    connection sends "ARGS\\nLENGTH\\nINPUT" and
                                    gets "STATUS\\n" and the oracle's output
  peers.py echo LINK                a pseudo-terminal linked as LINK whose far
                                    end sends back every byte it receives
  peers.py wire LINK TRIGGER        a pseudo-terminal linked as LINK that stays
                                    silent until TRIGGER exists, then sends "!"
  peers.py udp PORTFILE OUT COUNT   receives COUNT datagrams on a loopback port,
                                    each written to OUT.N
Each writes its port, or "ready", to stdout or PORTFILE once it serves, and
runs until killed (the udp receiver ends after COUNT datagrams).
"""
import os
import pty
import select
import socket
import subprocess
import sys
import termios
import time
import tty


def ready(portfile, text):
    with open(portfile + ".tmp", "w") as f:
        f.write(text)
    os.rename(portfile + ".tmp", portfile)


def oracle(portfile, script):
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    ready(portfile, str(server.getsockname()[1]))
    while True:
        conn, _ = server.accept()
        with conn:
            data = b""
            while data.count(b"\n") < 2:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
            args, length, rest = data.split(b"\n", 2)
            while len(rest) < int(length):
                rest += conn.recv(65536)
            run = subprocess.run(["/usr/bin/python3", script] + args.decode().split(),
                                 input=rest, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            conn.sendall(str(run.returncode).encode() + b"\n" + run.stdout)


def open_pty(link):
    near, far = pty.openpty()
    tty.setraw(far)
    name = os.ttyname(far)
    if os.path.lexists(link):
        os.unlink(link)
    os.makedirs(os.path.dirname(link), exist_ok=True)
    os.symlink(name, link)
    return near, far


def echo(link):
    near, far = open_pty(link)
    print("ready", flush=True)
    while True:
        data = os.read(near, 4096)
        if data:
            os.write(near, data)


def wire(link, trigger):
    near, far = open_pty(link)
    print("ready", flush=True)
    while not os.path.exists(trigger):
        time.sleep(0.01)
    os.write(near, b"!")
    while True:
        time.sleep(1)


def udp(portfile, out, count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    ready(portfile, str(s.getsockname()[1]))
    for n in range(int(count)):
        data, _ = s.recvfrom(65536)
        with open("%s.%d" % (out, n), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    {"oracle": oracle, "echo": echo, "wire": wire, "udp": udp}[sys.argv[1]](*sys.argv[2:])
