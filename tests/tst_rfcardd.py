#!/usr/bin/python3
"""rfcardd as a lab's script meets it: pyvisa with its pure-Python backend on
TCP, against rfcardd serving a card that rfcard-sim plays, beside rfcard's
own read-back of the same card.
    tst_rfcardd.py RFCARDD RFCARD_SIM RFCARD RFCARD_STRICT [PYVISA16_PATH]   (exit 77: no pyvisa)
PYVISA16_PATH: pyvisa 1.16 and pyvisa-py 0.8 (HiSLIP), as PYTHONPATH; empty: those checks skip."""
import atexit
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

try:
    import pyvisa
except ImportError:
    print("pyvisa (python3-pyvisa-py) is not installed: skipped")
    sys.exit(77)

RFCARDD, SIM, RFCARD, STRICT = sys.argv[1:5]
VISA16 = sys.argv[5] if len(sys.argv) > 5 else ""
if not VISA16:
    print("no pyvisa 1.16 with pyvisa-py 0.8 (../shared/third_party): the HiSLIP client checks skip")
else:  # the HiSLIP client of pyvisa-py 0.8, by itself
    sys.path.append(VISA16.split(":")[1] + "/pyvisa_py/protocols")
    import hislip
NAN = "9.91E37"
FREQS = [1111, 1222, 1333, 1444]  # MHz, by channel, within every model's range
RM = pyvisa.ResourceManager("@py")


class Program:
    """A program of the build that says on its first line where it serves."""

    def __init__(self, *argv, env=None):
        # Standard error into a file, so that a long log never holds it up;
        # a trace (--trace) through a pipe, to be followed.
        self.err = subprocess.PIPE if "--trace" in argv else tempfile.TemporaryFile("w+")
        self.p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=self.err, text=True,
                                  env=None if env is None else {**os.environ, **env})
        atexit.register(self.p.kill)  # also when a failed check left it running
        self.line = self.p.stdout.readline().strip()

    def wait_for(self, text):
        """Reads the trace up to a line with the text."""
        while text not in self.p.stderr.readline():
            pass

    def stop(self):
        self.p.terminate()
        self.p.communicate(timeout=30)
        if self.err == subprocess.PIPE:
            return ""
        self.err.seek(0)
        return self.err.read()


def sim(family, *args):
    return Program(SIM, "--family", family, *args)


class Daemon(Program):
    def __init__(self, model, port, *args, env=None):
        listen = [] if "--listen" in args else ["--listen", "127.0.0.1:0"]
        super().__init__(RFCARDD, "--card", model, "--com", port, *listen, *args, env=env)
        self.port = int(self.line.split()[2].rsplit(":", 1)[1])
        for kind in ("hislip", "vxi11"):  # their lines come after the others
            if "--" + kind in args:
                while not (line := self.p.stdout.readline()).startswith("listening " + kind):
                    pass
                setattr(self, kind, int(line.rsplit(":", 1)[1]))

    def client(self):
        return RM.open_resource(f"TCPIP::127.0.0.1::{self.port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=15000)

    def raw(self, source="127.0.0.1", window=0):
        """A plain TCP client; loopback's other addresses are other clients.
        A small receive window makes rfcardd's answers wait in its own memory
        soon, not in the kernel's buffers."""
        conn = socket.socket()
        if window:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, window)
        conn.bind((source, 0))
        conn.connect(("127.0.0.1", self.port))
        conn.settimeout(60)  # a check that waits for ever tells nothing
        return conn

    def rss(self):
        with open(f"/proc/{self.p.pid}/status") as status:
            return next(int(l.split()[1]) for l in status if l.startswith("VmRSS")) // 1024


def ask(conn, message):
    conn.sendall(message + b"\n")
    line = b""
    while not line.endswith(b"\n"):
        chunk = conn.recv(4096)
        if not chunk:
            return line.decode()  # closed
        line += chunk
    return line.decode().strip()


def closed(conn):
    """Whether the server has ended the connection (a clean close reads b"")
    or goes on holding it (nothing within a few seconds)."""
    conn.settimeout(3)
    try:
        return conn.recv(1) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


def rfcard_report(port, model, ch):
    """rfcard's own read-back of the channel, from a folder of its own."""
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(RFCARD, folder)
        out = subprocess.run([os.path.join(folder, "rfcard"), "--card", model, "--com", port,
                              "--part", "1", "--gch", str(ch)], capture_output=True, text=True)
        return json.loads(out.stdout)


# Each model's settings on its second channel: header, value, what the query answers.
SETS = {
    ("VN2810", "vn"): [("FREQ", "2400", "2400.000"), ("GAIN", "12.5", "12.5"), ("OUTF", "21.4", "21.4")],
    ("JQ5140", "jq"): [("WORK", "1", "1"), ("FREQ", "1.5 GHZ", "1500.000"), ("GAIN", "20 DB", "20"),
                       ("REF", "1", "1"), ("OUTF", "140", "140")],
    ("JQ5120", "jq"): [("FREQ", "1200", "1200.000"), ("GAIN", "30", "30.0"), ("REF", "1", "1"),
                       ("BAND", "1", "1")],
    ("KLR620", "klr"): [("FREQ", "4200", "4200.000"), ("WORK", "1", "1"), ("GAIN", "10", "10"),
                        ("BAND", "3", "3")],
}

# Groups of cases on one card: model, family, simulator arguments, the port
# (None: the simulator's), then messages, what the message answers (None:
# nothing) and the error it leaves.
ERRORS = [
    ("VN2810", "vn", [], None, [
        (b"CHAN1::FREQ?", NAN, -102), (b"CHAN1:FREQ 1500\xff\x01", None, -102),
        (b"CHAN1:FREQ abc", None, -104), (b"CHAN1:FREQ? 5", NAN, -108), (b"CHAN1:FREQ", None, -109),
        (b"CHAN1:REF 1", None, -113), (b"CHAN1:BOGUS?;*OPC?", NAN + ";1", -113),
        (b"CHAN5:FREQ?", NAN, -114), (b"CHAN1:FREQ 1500 V", None, -131),
        (b"CHAN1:GAIN 41", None, -222), (b"CHAN1:OUTF 24.1", None, -222),
        (b"CHAN1:FREQ 1500;FREQ?", "1500.000", 0), (b"CHAN0:FREQ?", NAN, -114),
        (b"CHAN1:FREQ 1e400", None, -222), (b'CHAN1:FREQ? "1;2,3"', NAN, -108),
        (b"*RST;SYST:ERR?", '0,"No error"', 0), (b"*ESE 256", None, -222),
        (b"CHAN1:BOGUS;*CLS;*ESR?", "0", 0),
        # The status byte: an error queued (4), a response in the message
        # (16), an event enabled (32), and so a request (64).
        (b"*ESE 32;*SRE 48;*STB?;CHAN9:FREQ?;*STB?;*ESE?;*SRE?", "0;" + NAN + ";116;32;48", -114)]),
    ("JQ5120", "jq", [], None, [(b"CHAN3:READ?", "{}", -114)]),
    ("KLR620", "klr", [], None, [(b"CHAN1:GAIN 31;WORK?", "0", -222)]),
    ("VN2810", "vn", ["--fault", "no-reply:2"], None, [(b"CHAN1:FREQ?", NAN, -240), (b"CHAN2:READ?",
     '{"ch":"1","freq":"","gain":"0.0","hardch":"1","outfreq":"0","temp":"25"}', -240)]),
    ("VN2810", "vn", ["--fault", "status51"], None, [(b"CHAN1:GAIN 3", None, -240)]),
    ("VN2810", "vn", ["--fault", "keep-old:2"], None, [(b"CHAN1:FREQ 1500", None, -300)]),
    ("KLR620", "klr", [], "/nonexistent/rfcardd-port", [(b"CHAN1:FREQ?", NAN, -241)]),
]


# rfcard-strict's set run and read-back of each model, the fault code that
# spoils them (the frequency's: set and read back), the faults the family has.
STRICT_RUNS = [
    ("jq", "2", "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140", "--gch 2"),
    ("jq", "2", "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1", "--gch 1"),
    ("vn", "2", "--card vn2810 --ch 0 --freq 2400 --gain 12.5 --outfreq 21.4", "--gch 0"),
    ("klr", "0xa7", "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3", "--gch 3"),
]
FAULTS = ["no-reply", "short", "long", "wrong-code", "status51", "status53", "split", "garbage",
          "late", "keep-old"]


def strict_run(family, fault, args, through_service):
    """rfcard-strict on a card with the fault, on its port or through rfcardd."""
    card = sim(family, "--split-pause", "1000", "--late-ms", "3000", *(["--fault", fault] if fault else []))
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(STRICT, folder)
        daemon = Daemon(args.split()[1], card.line, "--socket", f"{folder}/card.sock") if through_service else None
        where = ["--service", f"{folder}/card.sock"] if through_service else ["--com", card.line]
        run = subprocess.run([os.path.join(folder, "rfcard-strict"), *where, *args.split()],
                             capture_output=True, text=True)
        if daemon:
            daemon.stop()
    card.stop()
    return run.returncode, run.stdout


class TestRfcardd(unittest.TestCase):
    def test_strict_through_the_service_as_without_it(self):
        cases = []
        for family, code, setting, channel in STRICT_RUNS:
            model = setting.split()[1]
            for fault in [None] + FAULTS:
                if family == "klr" and fault and fault.startswith("status"):
                    continue  # a KLR620 reply has no status byte
                spoil = fault and f"{fault}:{'0xa2' if fault == 'keep-old' and family == 'klr' else code}"
                for args in (setting, f"--card {model} --part 1 {channel}"):
                    cases += [(family, spoil, args, side) for side in (False, True)]
        with ThreadPoolExecutor(8) as pool:
            outcomes = list(pool.map(lambda c: strict_run(*c), cases))
        for i in range(0, len(cases), 2):
            with self.subTest(fault=cases[i][1], run=cases[i][2]):
                # What a reply that comes late, or in two pieces a second
                # apart, spoils after the first query depends on where its
                # bytes fall: two runs on the port itself differ as much.
                timed = cases[i][1] and cases[i][1].startswith(("late", "split"))
                self.assertEqual(outcomes[i + 1][:1 if timed else 2], outcomes[i][:1 if timed else 2])
        statuses = {status for status, _ in outcomes}
        self.assertEqual(statuses, {0, 3, 8})  # every outcome a fault kind has

    def test_sets_read_back_as_rfcard_reads_them(self):
        for (model, family), sets in SETS.items():
            with self.subTest(model):
                card = sim(family)
                daemon = Daemon(model, card.line)
                c = daemon.client()
                for header, value, answer in sets:
                    c.write(f"CHAN2:{header} {value}")
                    self.assertEqual(c.query(f"CHAN2:{header}?"), answer)
                self.assertEqual(c.query("SYST:ERR?"), '0,"No error"')
                read = json.loads(c.query("CHAN2:READ?"))
                c.close()
                self.assertIn("verified", daemon.stop())
                self.assertEqual(read, rfcard_report(card.line, model, 1))
                card.stop()

    def test_each_error_and_its_answer(self):
        for model, family, args, port, cases in ERRORS:
            card = sim(family, *args)
            daemon = Daemon(model, port or card.line)
            c = daemon.client()
            for message, answer, code in cases:
                with self.subTest(model=model, message=message):
                    c.write_raw(message + b"\n")
                    if answer is not None:
                        self.assertEqual(c.read(), answer)
                    error = c.query("SYST:ERR?")
                    self.assertTrue(error.startswith(f"{code},"), error)
            c.close()
            daemon.stop()
            card.stop()

    def test_the_error_queue_keeps_the_first_and_says_it_overflowed(self):
        card = sim("vn")
        daemon = Daemon("VN2810", card.line)
        c = daemon.client()
        c.write(";".join(["CHAN9:FREQ?"] * 40))
        self.assertEqual(c.read(), ";".join([NAN] * 40))
        errors = [c.query("SYST:ERR?") for _ in range(33)]
        self.assertEqual(errors[0][:4] + errors[30][:4] + errors[31][:4], "-114-114-350")
        self.assertEqual(errors[32], '0,"No error"')
        daemon.stop()
        card.stop()

    def test_a_line_without_end_closes_its_connection_only(self):
        card = sim("vn")
        daemon = Daemon("VN2810", card.line)
        raw = socket.create_connection(("127.0.0.1", daemon.port))
        try:
            raw.sendall(b"X" * (1 << 20))
            while raw.recv(4096):
                pass
        except OSError:
            pass  # the server closed it with the rest unread
        self.assertTrue(daemon.client().query("*IDN?").startswith("RFCARD,VN2810,"))
        self.assertIn("over 64 KiB", daemon.stop())
        card.stop()

    def test_bounds_of_every_setting(self):
        """MINimum, MAXimum and DEFault, asked for and set, in the option's units."""
        cases = {("VN2810", "vn"): [(b"FREQ? MAX;FREQ? MIN;GAIN? MAX;OUTF? MAX", "3000;20;40;70"),
                                    (b"FREQ MAX;FREQ?;GAIN DEF;GAIN?", "3000.000;0.0")],
                 ("JQ5140", "jq"): [(b"WORK 1;GAIN? MAX;WORK 0;GAIN? max;REF? MAX", "50;30;1"),
                                    (b"FREQ minimum;FREQ?;OUTF DEF;OUTF?", "950.000;70")],
                 ("KLR620", "klr"): [(b"WORK 1;GAIN MIN;GAIN?;BAND DEF;BAND?;FREQ? DEF", "-5;2;1000")]}
        for (model, family), rows in cases.items():
            card = sim(family)
            daemon = Daemon(model, card.line)
            conn = daemon.raw()
            for message, answer in rows:
                with self.subTest(model=model, message=message):
                    self.assertEqual(ask(conn, b"CHAN2:" + message + b";:SYST:ERR?"), answer + ';0,"No error"')
            daemon.stop()
            card.stop()

    def test_a_late_reply_is_never_taken_for_another(self):
        """Frequency replies that come after the time-out, whole or in part: every
        channel in turn answers its own frequency, or not-a-number with -240."""
        def sweep(family, model, code, fault):
            with tempfile.TemporaryDirectory() as folder:
                state = os.path.join(folder, "card.json")
                with open(state, "w") as f:
                    json.dump({"family": family, "channels": [{"freq": f * 1000} for f in FREQS]}, f)
                card = sim(family, "--state", state, "--fault", f"{fault}:{code}", "--late-ms", "1200",
                           "--split-pause", "1200")
                daemon = Daemon(model, card.line)
                conn = daemon.raw()
                answers = [(ch, ask(conn, b"CHAN%d:FREQ?;:SYST:ERR?" % ch))
                           for _ in range(2) for ch in range(1, 3 if model == "JQ5120" else 5)]
                daemon.stop()
                card.stop()
            return [(ch, a) for ch, a in answers
                    if a != f'{FREQS[ch - 1]}.000;0,"No error"' and not a.startswith(NAN + ";-240,")]
        cases = [(f, m, c, fault) for f, m, c in [("vn", "VN2810", 2), ("jq", "JQ5140", 2), ("jq", "JQ5120", 2),
                                                  ("klr", "KLR620", "0xa7")] for fault in ("late", "split")]
        with ThreadPoolExecutor(len(cases)) as pool:
            for case, wrong in zip(cases, pool.map(lambda c: sweep(*c), cases)):
                self.assertEqual(wrong, [], case)
        # A card that takes 120 ms over each answer leaves a pause between the late
        # reply and the probe's: the line is in step only once the probe's own has
        # come, and the next query (another parameter, answered in time) is right.
        card = sim("vn", "--fault", "late:2", "--late-ms", "1200", "--delay", "120")
        daemon = Daemon("VN2810", card.line)
        conn = daemon.raw()
        self.assertTrue(ask(conn, b"CHAN1:FREQ?;:SYST:ERR?").startswith(NAN + ";-240,"))
        self.assertEqual(ask(conn, b"CHAN1:GAIN?;:SYST:ERR?"), '0.0;0,"No error"')
        daemon.stop()
        card.stop()

    def test_a_client_that_ends_its_sending_is_answered(self):
        """What a shell user does first: a message piped into nc or socat."""
        card = sim("vn")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "card.sock")
            daemon = Daemon("VN2810", card.line, "--socket", path)
            tcp = f"127.0.0.1:{daemon.port}"
            for command, message, answer in [
                    (["nc", "-N", "127.0.0.1", str(daemon.port)], "*IDN?", "RFCARD,VN2810,"),
                    (["nc", "-N", "127.0.0.1", str(daemon.port)], "CHAN1:FREQ?", "1000.000"),
                    (["socat", "-", f"TCP:{tcp}"], "CHAN1:FREQ?;GAIN?", "1000.000;0.0"),
                    (["socat", "-", f"UNIX-CONNECT:{path}"], "*IDN?", "RFCARD,VN2810,"),
                    # Only a message with its line end is made.
                    (["nc", "-N", "127.0.0.1", str(daemon.port)], "CHAN2:FREQ 1500\nCHAN2:FREQ 150", ""),
                    (["socat", "-", f"TCP:{tcp}"], "CHAN2:FREQ?", "1500.000")]:
                for _ in range(3):
                    out = subprocess.run(command, input=message + "\n" * ("150" not in message),
                                         capture_output=True, text=True, timeout=30).stdout
                    with self.subTest(command=command[0], message=message):
                        self.assertTrue(out.startswith(answer) and out.endswith("\n" if answer else ""), out)
            self.assertIn('dropped "CHAN2:FREQ 150"', daemon.stop())
        card.stop()

    def test_no_client_shuts_out_another(self):
        card = sim("vn")
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o755)
            path = os.path.join(folder, "card.sock")
            daemon = Daemon("VN2810", card.line, "--socket", path)
            os.chmod(path, 0o666)
            # One address holds its share; the rest of its connections are closed.
            crowd = [daemon.raw() for _ in range(20)]
            self.assertEqual(sum(closed(c) for c in crowd[8:]), 12)
            crowd.append(daemon.raw("127.0.0.2"))
            self.assertEqual(ask(crowd[-1], b"*IDN?")[:13], "RFCARD,VN2810")
            # With every place taken, the longest-idle of the biggest holder
            # makes room, and the newcomer is answered.
            crowd += [daemon.raw(f"127.0.1.{n}") for n in range(8) for _ in range(8)]
            self.assertTrue(closed(crowd[0]))
            self.assertEqual(ask(crowd[-1], b"CHAN1:FREQ?"), "1000.000")
            # A Unix-domain client is one uid: another uid, and root, get in.
            hold = ("import socket,sys,time\nk=[socket.socket(socket.AF_UNIX) for _ in range(70)]\n"
                    f"[s.connect({path!r}) for s in k]\nprint(flush=True)\ntime.sleep(60)")
            holder = subprocess.Popen([sys.executable, "-c", hold], user=65534, stdout=subprocess.PIPE)
            holder.stdout.readline()
            other = ("import socket\ns=socket.socket(socket.AF_UNIX)\n"
                     f"s.connect({path!r})\ns.sendall(b'*IDN?\\n')\nprint(s.makefile().readline())")
            for user in (65533, 0):
                answer = subprocess.run([sys.executable, "-c", other], user=user, capture_output=True,
                                        text=True, timeout=30).stdout
                self.assertTrue(answer.startswith("RFCARD,VN2810"), (user, answer))
            holder.kill()
            self.assertIn("(nobody) on " + path + ": connection refused", daemon.stop())
        card.stop()

    def test_clients_that_never_read_cost_little(self):
        """Clients sending 64 KiB messages of queries, reading nothing: the
        network holds them back long before they have sent 32 MiB each."""
        card = sim("vn")
        # A sanitizer's build would keep what is freed, its quarantine, and
        # count it resident: here it keeps nothing (ignored by other builds).
        daemon = Daemon("VN2810", card.line, env={"ASAN_OPTIONS": "quarantine_size_mb=0"})
        idle = daemon.rss()
        message = b"*IDN?;" * 10000 + b"\n"

        def flood(n):
            conn = daemon.raw(f"127.0.2.{n}", window=4096)
            conn.settimeout(3)
            try:
                for _ in range(32 * 1024 * 1024 // len(message)):
                    conn.sendall(message)
            except OSError:
                pass  # held back by the network
            return conn
        with ThreadPoolExecutor(8) as pool:
            floods = list(pool.map(flood, range(8)))
        time.sleep(6)  # what the network holds is not made meanwhile
        self.assertLess(daemon.rss() - idle, 32)
        self.assertEqual(ask(daemon.raw(), b"CHAN1:FREQ?"), "1000.000")
        daemon.stop()
        card.stop()

    def test_the_card_takes_turns_by_client_not_connection(self):
        """One address's 16 connections setting a KLR620 without end; another
        address's set waits for one of theirs at most (two with one under way)."""
        card = sim("klr")
        daemon = Daemon("KLR620", card.line, "--max-per-client", "16")
        done = [0]
        stop = threading.Event()

        def repeat(k):
            conn = daemon.raw()
            while not stop.is_set():
                ask(conn, b"CHAN1:FREQ %d;*OPC?" % (1000 + k))
                done[0] += 1
        threads = [threading.Thread(target=repeat, args=(k,)) for k in range(16)]
        for t in threads:
            t.start()
        while done[0] < 32:
            time.sleep(0.05)
        conn = daemon.raw("127.0.0.2")
        before = done[0]
        self.assertEqual(ask(conn, b"CHAN2:FREQ 4321;FREQ?"), "4321.000")
        waited = done[0] - before
        stop.set()
        for t in threads:
            t.join()
        self.assertLessEqual(waited, 3)
        daemon.stop()
        card.stop()

    def test_sixteen_clients(self):
        """Twelve own a parameter of a channel each and set it, four only ask;
        every answer is the one to its own request (all from one address:
        a lab machine's scripts, beyond the default share of one client)."""
        card = sim("vn")
        daemon = Daemon("VN2810", card.line, "--max-per-client", "17")
        clients = [daemon.client() for _ in range(16)]
        last = {}
        failures = []

        def work(k, c):
            ch, (header, unit) = k % 4 + 1, [("FREQ", 1000), ("GAIN", 0), ("OUTF", 0)][min(k // 4, 2)]
            for i in range(200):
                step = i % 4 if k < 12 else 1 + i % 3
                if step == 0:
                    value = {"FREQ": f"{1000 + 10 * k + i}.000", "GAIN": f"{(k + i) % 80 / 2:.1f}",
                             "OUTF": ["70", "21.4"][i // 4 % 2]}[header]
                    got, want = c.query(f"CHAN{ch}:{header} {value};{header}?"), value
                    last[(ch, header)] = value
                elif step == 1:
                    got, want = c.query("*IDN?")[:13], "RFCARD,VN2810"
                elif step == 2:
                    got, want = json.loads(c.query(f"CHAN{ch}:READ?"))["ch"], str(ch - 1)
                else:
                    got, want = c.query("SYST:ERR:COUN?;*OPC?"), "0;1"
                if got != want:
                    failures.append((k, i, got, want))

        threads = [threading.Thread(target=work, args=(k, c)) for k, c in enumerate(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])
        check = daemon.client()
        for (ch, header), value in last.items():
            self.assertEqual(check.query(f"CHAN{ch}:{header}?"), value)
        self.assertEqual(check.query("SYST:ERR?"), '0,"No error"')
        daemon.stop()
        card.stop()

    def test_unplugged_and_plugged_in_again(self):
        with tempfile.TemporaryDirectory() as folder:
            link = os.path.join(folder, "card")
            first = sim("vn")
            os.symlink(first.line, link)
            daemon = Daemon("VN2810", link)
            c = daemon.client()
            self.assertEqual(c.query("CHAN1:FREQ 1200;FREQ?"), "1200.000")
            # Another program changing the line's settings under rfcardd
            # ("stty icanon" holds every reply back) changes nothing.
            subprocess.run(["stty", "-F", first.line, "icanon"], check=True)
            self.assertEqual(c.query("CHAN1:FREQ?;:SYST:ERR?"), '1200.000;0,"No error"')
            first.stop()
            second = sim("vn")
            os.remove(link)
            os.symlink(second.line, link)
            self.assertEqual(c.query("CHAN1:FREQ?"), "1000.000")  # the new card's own
            self.assertEqual(c.query("SYST:ERR?"), '0,"No error"')
            log = daemon.stop()
            self.assertIn("opened again", log)
            self.assertIn("settings had been changed by another program", log)
            second.stop()

    def test_a_read_only_listener_answers_and_refuses_sets(self):
        card = sim("vn")
        daemon = Daemon("VN2810", card.line, "--listen", "none", "--read-only-listen", "127.0.0.1:0")
        self.assertTrue(daemon.line.endswith("(read-only)"))
        c = daemon.client()
        self.assertEqual(c.query("CHAN1:FREQ 1500;FREQ?;:SYST:ERR?").split(";")[:2], ["1000.000", "-203,\"Command protected"])
        daemon.stop()
        card.stop()

    def test_a_set_outlives_its_client(self):
        card = sim("klr", "--trace")
        daemon = Daemon("KLR620", card.line)
        gone = socket.create_connection(("127.0.0.1", daemon.port))
        gone.sendall(b"CHAN2:FREQ 4200;BAND 3\n")
        gone.close()
        card.wait_for("get band ch1")  # the last set, read back
        client = daemon.raw()
        self.assertEqual(ask(client, b"CHAN2:FREQ?;BAND?"), "4200.000;3")
        # The audit cannot be forged with a long value nor drowned by refusals.
        ask(client, b"CHAN2:FREQ " + b"0" * 48000 + b"1500;*OPC?")
        ask(client, b";".join([b"CHAN2:BAND 9"] * 100) + b";*OPC?")
        log = daemon.stop()
        self.assertIn("CHANnel2:FREQuency 4200: sent to the card\n", log)
        self.assertIn("CHANnel2:FREQuency 4200: verified", log)
        self.assertIn("CHANnel2:BAND 3: verified", log)
        self.assertLess(max(len(line) for line in log.splitlines()), 500)
        self.assertEqual(log.count("CHANnel2:BAND 9: refused"), 20)
        self.assertIn(": 80 more refused in 10 s", log)
        card.stop()

    def test_a_long_exchange_holds_up_only_its_own_client(self):
        """Three queries a silent KLR620 takes a second each to give up on;
        meanwhile another client is answered, by Unix-domain socket too."""
        card = sim("klr", "--fault", "no-reply:0xa7")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "klr.sock")
            daemon = Daemon("KLR620", card.line, "--socket", path)
            slow = socket.create_connection(("127.0.0.1", daemon.port))
            slow.sendall(b"CHAN1:FREQ?;FREQ?;FREQ?\n")
            local = socket.socket(socket.AF_UNIX)
            local.connect(path)
            local.sendall(b"*IDN?;*OPC?;SYST:ERR?\n")
            answer = local.makefile().readline()
            self.assertTrue(answer.startswith(f"RFCARD,KLR620,{card.line},"), answer)
            self.assertTrue(answer.endswith(';1;0,"No error"\n'), answer)
            self.assertEqual(select.select([slow], [], [], 0)[0], [])
            self.assertEqual(slow.makefile().readline(), f"{NAN};{NAN};{NAN}\n")
            daemon.stop()
        card.stop()


def visa16(script, *args):
    """A script run with pyvisa 1.16 and pyvisa-py 0.8; its output."""
    run = subprocess.run([sys.executable, "-c", script, *args], capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=VISA16), timeout=120)
    return run.stdout + run.stderr


from pyvisa_py.protocols import rpc, vxi11


class Core(vxi11.CoreClient):
    """Debian's pyvisa-py VXI-11 client on a core channel's port it is given
    (rpcbind, which names the port, is tests/lan.sh's)."""

    def __init__(self, port):
        self.packer, self.unpacker = vxi11.Vxi11Packer(), vxi11.Vxi11Unpacker("")
        rpc.RawTCPClient.__init__(self, "127.0.0.1", vxi11.DEVICE_CORE_PROG, vxi11.DEVICE_CORE_VERS, port)


class TestVxi11(unittest.TestCase):
    def test_links_reads_locks(self):
        card = sim("klr")
        daemon = Daemon("KLR620", card.line, "--vxi11", "127.0.0.1:0", "--name", "bench")
        port = daemon.vxi11
        a, b = Core(port), Core(port)
        self.assertEqual(a.create_link(1, 0, 1000, "nope")[0], 3)  # device not accessible
        one, two = a.create_link(1, 0, 1000, "inst0")[1], b.create_link(2, 0, 1000, "BENCH")[1]
        end = vxi11.OP_FLAG_END
        self.assertEqual(a.device_write(one, 5000, 1000, end, b"CHAN1:FREQ 2000;FREQ?\n"), (0, 22))
        self.assertEqual(a.device_read(one, 4096, 5000, 1000, 0, 0), (0, 4, b"2000.000\n"))  # END, whole
        self.assertEqual(a.device_read(one, 4096, 200, 1000, 0, 0)[0], 15)  # nothing to read: time-out
        self.assertEqual(a.device_lock(one, 0, 0), 0)
        self.assertEqual(b.device_write(two, 5000, 0, end, b"CHAN1:FREQ 3000\n")[0], 11)  # locked
        self.assertEqual(b.device_unlock(two), 12)  # no lock held by this link
        self.assertEqual(a.device_unlock(one), 0)
        self.assertEqual(b.device_write(two, 5000, 0, end, b"CHAN1:FREQ 3000;FREQ?;*STB?\n")[0], 0)
        self.assertEqual(b.device_read(two, 4096, 5000, 0, 0, 0)[2], b"3000.000;16\n")  # an answer waits
        self.assertEqual(a.device_read_stb(one, 0, 1000, 1000), (0, 0))
        self.assertEqual(a.device_trigger(one, 0, 1000, 1000), 8)  # operation not supported
        self.assertEqual(b.device_lock(two, 0, 0), 0)
        self.assertEqual(b.destroy_link(two), 0)  # and its lock with it
        self.assertEqual(b.destroy_link(two), 4)  # invalid link
        self.assertEqual(a.device_write(one, 5000, 0, end, b"CHAN1:FREQ 3100\n")[0], 0)
        self.assertIn("(VXI-11): KLR620 CHANnel1:FREQuency 3000: verified", daemon.stop())
        card.stop()

    def test_the_front_hands_each_card_its_own(self):
        """Two cards behind the host's front, by name and as the default card."""
        with tempfile.TemporaryDirectory() as folder:
            cards = [(sim(family), name, model) for family, name, model in [("vn", "lab", "VN2810"), ("klr", "klr", "KLR620")]]
            daemons = [Daemon(model, card.line, "--name", name, "--handoff", f"{folder}/{name}.handoff")
                       for card, name, model in cards]
            front = Program(RFCARDD, "--front", "--cards", folder, "--default-card", "lab",
                            "--vxi11", "127.0.0.1:0", "--hislip", "127.0.0.1:0")
            ports = {line.split()[1]: int(line.rsplit(":", 1)[1]) for line in [front.line, front.p.stdout.readline()]}
            for device, model in [("inst0", "VN2810"), ("klr", "KLR620"), ("LAB", "VN2810")]:
                client = Core(ports["vxi11"])
                link = client.create_link(1, 0, 1000, device)[1]
                client.device_write(link, 5000, 1000, vxi11.OP_FLAG_END, b"*IDN?\n")
                self.assertEqual(client.device_read(link, 4096, 5000, 1000, 0, 0)[2].split(b",")[1], model.encode())
            self.assertEqual(Core(ports["vxi11"]).create_link(1, 0, 1000, "nope")[0], 3)
            if VISA16:
                for sub_address, model in [("hislip0", b"VN2810"), ("hislip_klr", b"KLR620")]:
                    client = hislip.Instrument("127.0.0.1", port=ports["hislip"], sub_address=sub_address, timeout=10)
                    client.send(b"*IDN?\n")
                    self.assertEqual(client.receive().split(b",")[1], model)
                    self.assertEqual(client.async_status_query(), 0)  # its second channel found it too
            self.assertIn('no card named "nope" here', front.stop())
            for daemon in daemons:
                daemon.stop()
            for card, _, _ in cards:
                card.stop()


@unittest.skipUnless(VISA16, "no pyvisa 1.16 with pyvisa-py 0.8")
class TestHislip(unittest.TestCase):
    def test_every_model_through_pyvisa(self):
        script = """import sys, pyvisa
c = pyvisa.ResourceManager("@py").open_resource(sys.argv[1], timeout=10000)
c.write("CHAN2:" + sys.argv[2])
print(c.query("CHAN2:" + sys.argv[2].split()[0] + "?;:SYST:ERR?").strip(), c.read_stb())
c.timeout = 300
try:
    c.query("CHAN1:GAIN?")  # the card's answer is late: given up on, then cleared
except pyvisa.errors.VisaIOError:
    c.clear()
c.timeout = 10000
print(c.query("*IDN?").strip())"""
        for model, family, setting, answer in [("VN2810", "vn", "FREQ 2400", "2400.000"),
                                               ("JQ5140", "jq", "FREQ 1500", "1500.000"),
                                               ("JQ5120", "jq", "BAND 1", "1"), ("KLR620", "klr", "FREQ 4200", "4200.000")]:
            with self.subTest(model):
                code = {"vn": "5", "jq": "9" if model == "JQ5120" else "8", "klr": "0xa9"}[family]
                card = sim(family, "--fault", f"late:{code}", "--late-ms", "2000")
                daemon = Daemon(model, card.line, "--hislip", "127.0.0.1:0", "--name", "lab")
                out = visa16(script, f"TCPIP::127.0.0.1::hislip_lab,{daemon.hislip}::INSTR", setting).splitlines()
                self.assertEqual(out[:2], [f'{answer};0,"No error" 0', f"RFCARD,{model},{card.line},1.0.2"])
                daemon.stop()
                card.stop()

    def test_a_lock_holds_against_every_client(self):
        card = sim("klr")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "card.sock")
            daemon = Daemon("KLR620", card.line, "--hislip", "127.0.0.1:0", "--socket", path, "--lock-wait", "1000")
            holder = hislip.Instrument("127.0.0.1", port=daemon.hislip, timeout=30)
            self.assertEqual(holder.async_lock_request(5.0), "success")
            other = daemon.raw()
            for step in range(20):  # the holder's sweep, while the others are kept out
                holder.send(b"CHAN1:FREQ %d;FREQ?\n" % (1000 + 10 * step))
                self.assertEqual(holder.receive(), b"%d.000\n" % (1000 + 10 * step))
            self.assertTrue(ask(other, b"CHAN1:FREQ 3000;:SYST:ERR?").startswith(
                '-200,"Execution error; CHANnel1:FREQuency 3000: the card is locked by 127.0.0.1:'))
            shutil.copy(STRICT, folder)
            strict = [os.path.join(folder, "rfcard-strict"), "--service", path, "--ch", "0", "--freq", "3100"]
            locked = subprocess.run(strict, capture_output=True, text=True)
            self.assertEqual(locked.returncode, 9, locked.stderr)
            self.assertIn("(HiSLIP)", locked.stderr)
            self.assertEqual(holder.async_lock_release(), "success")
            self.assertEqual(ask(other, b"CHAN1:FREQ 3000;FREQ?"), "3000.000")
            self.assertEqual(subprocess.run(strict, capture_output=True).returncode, 0)
            daemon.stop()
        card.stop()

    def test_a_warning_is_questionable(self):
        """A KLR620 that starts warning: the status byte's QUEStionable bit."""
        with tempfile.TemporaryDirectory() as folder:
            link = os.path.join(folder, "card")
            quiet = sim("klr")
            os.symlink(quiet.line, link)
            daemon = Daemon("KLR620", link, "--hislip", "127.0.0.1:0")
            client = hislip.Instrument("127.0.0.1", port=daemon.hislip, timeout=30)
            client.send(b"STAT:QUES:ENAB 512;*SRE 8\n")
            raw = daemon.raw()
            ask(raw, b"STAT:QUES:ENAB 512;*OPC?")
            time.sleep(2)  # polled: nothing to say yet
            self.assertEqual((client.async_status_query(), ask(raw, b"*STB?")), (0, "0"))
            warning = sim("klr", "--warning", "3")  # another card, with its warning up
            os.remove(link)
            os.symlink(warning.line, link)
            request = hislip.AsyncServiceRequest(client._async)  # its service request
            self.assertEqual(request.server_status & 0x48, 0x48)
            self.assertEqual(client.async_status_query() & 8, 8)
            self.assertEqual(int(ask(raw, b"*STB?")) & 8, 8)
            daemon.stop()
            quiet.stop()
            warning.stop()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[6:], verbosity=2)
