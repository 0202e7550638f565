"""rfcardd against rfcard-sim, through pyvisa's pure-Python backend (the
client the tests use and labs run), beside a program that holds the pseudo-
terminal open and makes only the same exchanges: a query, a verified 20-step
VN2810 frequency sweep, a set followed by SYSTem:ERRor? written two ways, the
sweep made of rfcard-strict runs, and rfcardd's resident memory over 100,000
requests and after a 1 MiB line without an end.
Then the same query and sweep through VXI-11 (pyvisa-py's own client, on the
core channel's port: no rpcbind needed) and HiSLIP (pyvisa-py 0.8's client,
with --hislip-client DIR, its protocols folder), side by side with the raw
socket in one run.
    python3 bench/daemon.py --rfcardd BIN --sim BIN --strict BIN [--runs N] [--hislip-client DIR]"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import tempfile
import termios
import time
import tty

import pyvisa

DELAY_MS = 3            # every reply this late, as a card's wire time makes it
QUERY_TARGET = 1.10     # a query: at most this x the bare exchange, plus SLACK_S
SWEEP_TARGET = 1.2      # a verified sweep: at most this x its exchanges, plus SLACK_S a step
SLACK_S = 0.0003
STRICT_FACTOR = 5       # the sweep at least this many times faster than rfcard-strict runs
PAIR_SLACK_S = 0.002    # write + SYSTem:ERRor? against query(...;*OPC?) + SYSTem:ERRor?
MEMORY_KIB = 1024       # resident memory may grow by at most this much
LAN_SLACK_S = {"VXI-11": 0.0005, "HiSLIP": 0.0003}  # a query: at most the raw socket's + this
LAN_SWEEP = 1.1         # a sweep through each: at most this x the raw socket's
STEPS = 20
# The VN2810's frames, channel 0: query the frequency, set it (kHz, 24 bits).
QUERY_FREQ = bytes.fromhex("fe0102000000000003fa")


def set_freq(khz):
    frame = bytearray([0xFE, 3, 2, (khz >> 16) & 0xFF, (khz >> 8) & 0xFF, khz & 0xFF, 0, 0, 0, 0xFA])
    for b in frame[1:8]:
        frame[8] ^= b
    return bytes(frame)


class Program:
    def __init__(self, *argv):
        self.p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.line = self.p.stdout.readline().strip()

    def stop(self):
        self.p.terminate()
        self.p.wait()

    def rss_kib(self):
        with open(f"/proc/{self.p.pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


class Line:
    """The reference: the pseudo-terminal held open, one exchange at a time."""

    def __init__(self, device):
        self.fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        termios.tcflush(self.fd, termios.TCIOFLUSH)

    def exchange(self, frame):
        os.write(self.fd, frame)
        got = b""
        while len(got) < len(frame):
            got += os.read(self.fd, 64)

    def close(self):
        os.close(self.fd)


def median(runs, action):
    walls = []
    for i in range(runs):
        start = time.perf_counter()
        action(i)
        walls.append(time.perf_counter() - start)
    return statistics.median(walls)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rfcardd", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--strict", required=True)
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--hislip-client", default="")
    args = parser.parse_args()
    rm = pyvisa.ResourceManager("@py")
    met = True

    def verdict(ok):
        nonlocal met
        met = met and ok
        return "ok" if ok else "MISSED"

    def daemon(*sim_args):
        card = Program(args.sim, "--family", "vn", *sim_args)
        server = Program(args.rfcardd, "--card", "vn2810", "--com", card.line, "--listen", "127.0.0.1:0")
        port = int(server.line.rsplit(":", 1)[1])
        client = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                  write_termination="\n", timeout=10000)
        return card, server, client, port

    def sweep(client, step):
        for k in range(STEPS):
            client.query(f"CHANnel1:FREQuency {1000 + step * STEPS + k};*OPC?")

    print(f"rfcardd through pyvisa, median of {args.runs}, every reply {DELAY_MS} ms late")
    card, server, client, _ = daemon("--delay", str(DELAY_MS))
    reference = Program(args.sim, "--family", "vn", "--delay", str(DELAY_MS))
    line = Line(reference.line)
    query = median(args.runs, lambda i: client.query("CHANnel1:FREQuency?"))
    bare = median(args.runs, lambda i: line.exchange(QUERY_FREQ))
    ok = query <= QUERY_TARGET * bare + SLACK_S
    print(f"  query CHANnel1:FREQuency?: {query * 1000:.2f} ms, the exchange alone {bare * 1000:.2f} ms, "
          f"{query / bare:.3f} x (target {QUERY_TARGET} x + {SLACK_S * 1000:.1f} ms): {verdict(ok)}")
    swept = median(args.runs, lambda i: sweep(client, i))
    exchanges = median(args.runs, lambda i: [line.exchange(f) for k in range(STEPS)
                                             for f in (set_freq(1000000 + k), QUERY_FREQ)])
    ok = swept <= SWEEP_TARGET * exchanges + SLACK_S * STEPS
    print(f"  verified {STEPS}-step sweep: {swept * 1000:.1f} ms, its {2 * STEPS} exchanges "
          f"{exchanges * 1000:.1f} ms, {swept / exchanges:.3f} x (target {SWEEP_TARGET} x + "
          f"{SLACK_S * 1000:.1f} ms a step): {verdict(ok)}")
    line.close()
    reference.stop()
    server.stop()
    card.stop()

    print("without added latency")
    card, server, client, _ = daemon()
    written = median(args.runs, lambda i: (client.write("CHANnel2:FREQuency 1500"),
                                           client.query("SYSTem:ERRor?")))
    waited = median(args.runs, lambda i: (client.query("CHANnel2:FREQuency 1500;*OPC?"),
                                          client.query("SYSTem:ERRor?")))
    ok = written <= waited + PAIR_SLACK_S
    print(f"  write, then SYSTem:ERRor?: {written * 1000:.2f} ms; query(...;*OPC?), then "
          f"SYSTem:ERRor?: {waited * 1000:.2f} ms (target within {PAIR_SLACK_S * 1000:.0f} ms): "
          f"{verdict(ok)}")
    swept = median(args.runs, lambda i: sweep(client, i))
    server.stop()
    with tempfile.TemporaryDirectory() as folder:
        strict = os.path.join(folder, "rfcard-strict")
        shutil.copy(args.strict, strict)  # it keeps its settings beside itself
        runs = median(max(3, args.runs // 5), lambda i: [subprocess.run(
            [strict, "--card", "vn2810", "--com", card.line, "--freq", str(1000 + k)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True) for k in range(STEPS)])
    ok = runs >= STRICT_FACTOR * swept
    print(f"  verified {STEPS}-step sweep: rfcardd {swept * 1000:.1f} ms, rfcard-strict runs "
          f"{runs * 1000:.1f} ms, {runs / swept:.1f} x faster (target {STRICT_FACTOR} x): {verdict(ok)}")

    server = Program(args.rfcardd, "--card", "vn2810", "--com", card.line, "--listen", "127.0.0.1:0")
    port = int(server.line.rsplit(":", 1)[1])
    raw = socket.create_connection(("127.0.0.1", port))
    answers = raw.makefile("rb")

    def requests(n):
        for k in range(n):
            raw.sendall(b"CHANnel1:FREQuency?\n" if k % 2 else b"SYSTem:ERRor?\n")
            answers.readline()

    requests(1000)
    after_1k = server.rss_kib()
    requests(99000)
    after_100k = server.rss_kib()
    ok = after_100k <= after_1k + MEMORY_KIB
    print(f"  resident memory: {after_1k} KiB after 1,000 requests, {after_100k} KiB after "
          f"100,000 (target at most {MEMORY_KIB} KiB more): {verdict(ok)}")
    flood = socket.create_connection(("127.0.0.1", port))
    try:
        flood.sendall(b"X" * (1 << 20))
        while flood.recv(65536):
            pass
    except OSError:
        pass
    requests(10)
    after_flood = server.rss_kib()
    ok = after_flood <= after_100k + MEMORY_KIB
    print(f"  after a 1 MiB line without an end (closed with -363): {after_flood} KiB "
          f"(target at most {MEMORY_KIB} KiB more): {verdict(ok)}")
    server.stop()
    card.stop()

    print(f"the LAN instrument protocols beside the raw socket, every reply {DELAY_MS} ms late")
    card = Program(args.sim, "--family", "vn", "--delay", str(DELAY_MS))
    server = subprocess.Popen([args.rfcardd, "--card", "vn2810", "--com", card.line, "--listen",
                               "127.0.0.1:0", "--hislip", "127.0.0.1:0", "--vxi11", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ports = {}
    while len(ports) < 3:
        kind, where = server.stdout.readline().split()[1:3]
        ports[kind] = int(where.rsplit(":", 1)[1])
    raw = socket.create_connection(("127.0.0.1", ports["tcp"]))
    answers = raw.makefile("rb")

    def raw_query(message):
        raw.sendall(message + b"\n")
        return answers.readline()

    from pyvisa_py.protocols import rpc, vxi11

    class Core(vxi11.CoreClient):  # pyvisa-py's client, on a port it is given
        def __init__(self, port):
            self.packer, self.unpacker = vxi11.Vxi11Packer(), vxi11.Vxi11Unpacker("")
            rpc.RawTCPClient.__init__(self, "127.0.0.1", vxi11.DEVICE_CORE_PROG, vxi11.DEVICE_CORE_VERS, port)

    core = Core(ports["vxi11"])
    link = core.create_link(1, 0, 10000, "inst0")[1]

    def vxi11_query(message):
        core.device_write(link, 10000, 10000, vxi11.OP_FLAG_END, message + b"\n")
        return core.device_read(link, 4096, 10000, 10000, 0, 0)[2]

    clients = {"raw": raw_query, "VXI-11": vxi11_query}
    if args.hislip_client:
        import sys
        sys.path.insert(0, args.hislip_client)
        import hislip
        instrument = hislip.Instrument("127.0.0.1", port=ports["hislip"], timeout=10)

        def hislip_query(message):
            instrument.send(message + b"\n")
            return instrument.receive()
        clients["HiSLIP"] = hislip_query
    else:
        print("  (no --hislip-client: HiSLIP not measured)")
    # Taken in turns, so that the machine's load falls on all alike.
    times = {name: [] for name in clients}
    sweeps = {name: [] for name in clients}
    for i in range(args.runs):
        for name, query in clients.items():
            start = time.perf_counter()
            query(b"CHANnel1:FREQuency?")
            times[name].append(time.perf_counter() - start)
            start = time.perf_counter()
            for k in range(STEPS):
                query(b"CHANnel1:FREQuency %d;*OPC?" % (1000 + i * STEPS + k))
            sweeps[name].append(time.perf_counter() - start)
    base, base_sweep = statistics.median(times["raw"]), statistics.median(sweeps["raw"])
    print(f"  query on the raw socket: {base * 1000:.2f} ms; its verified {STEPS}-step sweep "
          f"{base_sweep * 1000:.1f} ms")
    for name in LAN_SLACK_S:
        if name not in clients:
            continue
        query, swept = statistics.median(times[name]), statistics.median(sweeps[name])
        ok = query <= base + LAN_SLACK_S[name]
        print(f"  query through {name}: {query * 1000:.2f} ms, {1000 * (query - base):+.2f} ms "
              f"(target + {LAN_SLACK_S[name] * 1000:.1f} ms): {verdict(ok)}")
        ok = swept <= LAN_SWEEP * base_sweep
        print(f"  sweep through {name}: {swept * 1000:.1f} ms, {swept / base_sweep:.3f} x "
              f"(target {LAN_SWEEP} x): {verdict(ok)}")
    server.terminate()
    server.wait()
    card.stop()
    print("rfcardd targets met" if met else "rfcardd: some targets missed")


if __name__ == "__main__":
    main()
