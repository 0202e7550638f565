"""Times rfcard runs against rfcard-sim and compares them with two floors:
the serial line's (every byte at 115200 baud 8N1 plus the protocol's pauses)
and the start-up of a bare Qt program."""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time

BYTE_S = 10 / 115200          # one byte on the wire, 8N1
KLR_SET_PAUSE_S = 0.100       # the KLR620 is given 100 ms after each set command

MODELS = [
    # model, family, set run ({g} is the gain), read-back run
    ("VN2810", "vn", "--card vn2810 --ch 1 --freq 1500 --gain {g} --outfreq 21.4", "--part 1 --gch 1"),
    ("JQ5140", "jq", "--card jq5140 --ch 2 --freq 1500 --gain {g} --workmode 0 --ref 1 --outfreq 140", "--part 1 --gch 2"),
    ("JQ5120", "jq", "--card jq5120 --ch 1 --freq 1200 --gain {g} --ref 0 --band 1", "--part 1 --gch 1"),
    ("KLR620", "klr", "--card klr620 --ch 3 --freq 4200 --gain {g} --workmode 1 --band 3", "--part 1 --gch 3"),
]
# "set" repeats one gain, as a script re-applying a configuration does (the
# settings file is already up to date and is left alone); "set, new" changes
# the gain every run, so every run also rewrites the settings file.
RUNS = [("set", True, False), ("set, new", True, True), ("read-back", False, False)]

TRACE = re.compile(r"^\S+ (rx|tx) ([0-9a-f ]+?)(?:  \| (.*))?$")


def wall_of(argv, cwd):
    """Wall time (s) of one process, start to exit."""
    start = time.perf_counter()
    done = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"{argv} failed")
    return wall


def peak_of(argv, cwd):
    """Peak resident memory (KiB) of one process, as GNU time reports it (a
    small parent, so the figure is the program's own, not the harness's)."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(done.stderr.strip().splitlines()[-1])


def measure(argv, cwd):
    return wall_of(argv, cwd), peak_of(argv, cwd)


def floor_of(trace_lines, family):
    """The line's floor for the frames of one run, from the simulator's trace."""
    seconds = 0.0
    for line in trace_lines:
        m = TRACE.match(line)
        if not m:
            continue
        seconds += len(m.group(2).split()) * BYTE_S
        if family == "klr" and m.group(1) == "rx" and (m.group(3) or "").startswith("set "):
            seconds += KLR_SET_PAUSE_S
    return seconds


class Sim:
    def __init__(self, sim, family):
        self.proc = subprocess.Popen([sim, "--family", family, "--baud-timing", "--trace"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.device = self.proc.stdout.readline().strip()
        os.set_blocking(self.proc.stderr.fileno(), False)

    def take_trace(self):
        time.sleep(0.05)
        out = self.proc.stderr.read() or ""
        return out.splitlines()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def summary(values):
    """Median and the spread around it: the 25th and 75th percentiles."""
    q = statistics.quantiles(values, n=4)
    return statistics.median(values), q[0], q[2]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--tool", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--bare", required=True)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="rfcard-bench-")
    tool = os.path.join(work, "rfcard")
    shutil.copy(args.tool, tool)

    bare = [measure([args.bare], work) for _ in range(args.runs)]
    bare_wall, bare_lo, bare_hi = summary([w for w, _ in bare])
    bare_rss = statistics.median([m for _, m in bare])
    print(f"bare Qt start: {bare_wall * 1000:.1f} ms (p25 {bare_lo * 1000:.1f}, p75 {bare_hi * 1000:.1f}), "
          f"peak memory {bare_rss} KiB, {args.runs} runs")
    print()
    print(f"{'model':7} {'run':9} {'median ms':>9} {'p25-p75 ms':>13} {'floor ms':>8} "
          f"{'(t-floor)/bare':>14} {'time':>4} {'peak KiB':>8} {'/bare':>6} {'mem':>4}")

    all_met = True
    for model, family, set_args, read_args in MODELS:
        sim = Sim(os.path.abspath(args.sim), family)
        try:
            for kind, is_set, changing in RUNS:
                def argv(i):
                    run = set_args.format(g=12 + (i % 2 if changing else 0)) if is_set else read_args
                    return [tool, "--com", sim.device] + run.split()
                wall_of(argv(1), work)       # warm-up, and the port is stored
                floors, walls, rss = [], [], []
                sim.take_trace()
                for i in range(args.runs):
                    walls.append(wall_of(argv(i), work))
                    floors.append(floor_of(sim.take_trace(), family))
                    rss.append(peak_of(argv(i + 1), work))
                    sim.take_trace()
                med, lo, hi = summary(walls)
                floor = statistics.median(floors)
                peak = statistics.median(rss)
                t_ratio = (med - floor) / bare_wall
                m_ratio = peak / bare_rss
                t_ok = t_ratio <= 1.5
                m_ok = m_ratio <= 1.2
                all_met = all_met and t_ok and m_ok
                print(f"{model:7} {kind:9} {med * 1000:9.1f} {lo * 1000:6.1f}-{hi * 1000:6.1f} "
                      f"{floor * 1000:8.1f} {t_ratio:14.2f} {'met' if t_ok else 'MISS':>4} "
                      f"{peak:8.0f} {m_ratio:6.2f} {'met' if m_ok else 'MISS':>4}")
        finally:
            sim.stop()
    print()
    print("targets: wall time <= floor + 1.5 x bare Qt start; peak memory <= 1.2 x bare Qt")
    print("all targets met" if all_met else "some targets missed")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
