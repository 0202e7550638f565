#!/usr/bin/python3
"""Late and split replies through rfcardd, on every model: channels at
distinct frequencies, a card whose frequency replies come late by each of
LATE ms or in two parts that far apart, one connection asking every
channel's frequency in turn ROUNDS times. Every answer must be the
channel's own frequency, or 9.91E37 with -240; it prints how many were
another request's value (0 is the target) and how many were right.
    bench/latereplies.py --rfcardd PATH --sim PATH [--rounds 10] [--late 1200,1500,2000,3000]"""
import argparse
import json
import os
import socket
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

FREQS = [1111, 1222, 1333, 1444]
MODELS = [("VN2810", "vn", "2"), ("JQ5140", "jq", "2"), ("JQ5120", "jq", "2"), ("KLR620", "klr", "0xa7")]


def sweep(args, model, family, code, fault, ms):
    with tempfile.TemporaryDirectory() as folder:
        state = os.path.join(folder, "card.json")
        with open(state, "w") as f:
            json.dump({"family": family, "channels": [{"freq": f * 1000} for f in FREQS]}, f)
        sim = subprocess.Popen([args.sim, "--family", family, "--state", state, "--fault", f"{fault}:{code}",
                                "--late-ms", str(ms), "--split-pause", str(ms)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = sim.stdout.readline().strip()
        daemon = subprocess.Popen([args.rfcardd, "--card", model, "--com", port, "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        address = daemon.stdout.readline().split()[2].rsplit(":", 1)
        conn = socket.create_connection((address[0], int(address[1])))
        answers = conn.makefile("rw")
        wrong = right = failed = 0
        for _ in range(args.rounds):
            for ch in range(1, 3 if model == "JQ5120" else 5):
                answers.write(f"CHAN{ch}:FREQ?;:SYST:ERR?\n")
                answers.flush()
                a = answers.readline().strip()
                if a == f'{FREQS[ch - 1]}.000;0,"No error"':
                    right += 1
                elif a.startswith("9.91E37;-240,"):
                    failed += 1
                else:
                    wrong += 1
        for p in (daemon, sim):
            p.terminate()
            p.wait()
    return model, fault, ms, wrong, right, failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rfcardd", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--late", default="1200,1500,2000,3000")
    args = parser.parse_args()
    cases = [(m, f, c, "late", int(ms)) for m, f, c in MODELS for ms in args.late.split(",")]
    cases += [(m, f, c, "split", 1200) for m, f, c in MODELS]
    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(lambda c: sweep(args, *c), cases))
    for model, fault, ms, wrong, right, failed in results:
        print(f"{model} {fault} {ms} ms: {wrong} another request's value, {right} right, {failed} -240")
    print(f"another request's value: {sum(r[3] for r in results)} of {sum(sum(r[3:]) for r in results)}")


if __name__ == "__main__":
    main()
