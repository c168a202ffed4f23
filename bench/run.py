#!/usr/bin/env python3
"""Times the program against a durable copy of the same file.

For every case the input is generated once (kept under the data directory),
read once to warm the page cache, and then the program and
`dd if=IN of=OUT bs=4M conv=fsync` run in turn, --runs times each. Each run
is a fresh process; its wall time is taken around the process, its peak
memory is the process's maximum resident set (wait4). The table shows the
medians and the ratios against the targets.

The program is copied beside a settings file that selects the .tap output,
so the input stays unchanged from run to run. Outputs are removed before
every run of either command, so neither one pays for truncating an old file.

Usage: run.py PROGRAM [--runs N] [--data DIR] [--only REGEX] [--quick]
"""

import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

MB = 1_000_000
HERE = os.path.dirname(os.path.abspath(__file__))


class Case:
    def __init__(self, shape, encoding, endings, size_mb=None, lines=None, group="realistic"):
        self.shape, self.encoding, self.endings = shape, encoding, endings
        self.size_mb, self.lines, self.group = size_mb, lines, group

    @property
    def name(self):
        size = f"{self.size_mb}MB" if self.lines is None else f"{self.lines // 1000}k-lines"
        return f"{self.shape}-{self.encoding}-{self.endings}-{size}"

    def generate(self, path):
        size = ["--lines", str(self.lines)] if self.lines else ["--bytes", str(self.size_mb * MB)]
        subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), self.shape,
                        self.encoding, self.endings, *size, path], check=True)


def all_cases():
    cases = []
    for size in (1, 20, 200):
        for encoding in ("cp1252", "utf8", "utf16le"):
            cases.append(Case("realistic", encoding, "crlf", size))
    for endings in ("lf", "mixed"):
        cases.append(Case("realistic", "cp1252", endings, 200))
        cases.append(Case("realistic", "utf16le", endings, 200))
    for encoding, endings in (("cp1252", "lf"), ("utf16le", "crlf")):
        for shape in ("m80", "triple", "nested"):
            for size in (20, 200):
                cases.append(Case(shape, encoding, endings, size, group="hard"))
    cases.append(Case("m80", "cp1252", "crlf", lines=2_000_000, group="hard"))
    cases.append(Case("triple", "cp1252", "crlf", lines=6_000_000, group="hard"))
    return cases


def run_once(command, output, usage_file):
    """Wall seconds, CPU seconds (user + system) and peak resident bytes of
    one run of `command`.

    The peak comes from /usr/bin/time: a process's maximum resident set
    starts from that of the process it was forked from, which for a child of
    this script would be the script's own.
    """
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    status = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", usage_file, *command],
                            stdout=subprocess.DEVNULL).returncode
    wall = time.perf_counter() - start
    if status != 0 or not os.path.exists(output):
        sys.exit(f"{command} failed with status {status}")
    with open(usage_file, encoding="ascii") as usage:
        peak, user, system = usage.read().split()[-3:]
    return wall, float(user) + float(system), int(peak) * 1024


def prepare_program(program, data):
    """A copy of the program beside a settings file that selects .tap output."""
    directory = os.path.join(data, "program")
    os.makedirs(directory, exist_ok=True)
    copy = os.path.join(directory, "ncrewrite")
    shutil.copy2(program, copy)
    with open(copy + ".ini", "w", encoding="ascii") as settings:
        settings.write("[common]\ntest=1\n")
    return copy


def measure(case, program, data, runs):
    path = os.path.join(data, case.name + ".nc")
    if not os.path.exists(path):
        case.generate(path)
    size = os.path.getsize(path)
    program_out = path[:-3] + ".tap"
    dd_out = path[:-3] + ".dd"
    program_command = [program, path]
    dd_command = ["dd", f"if={path}", f"of={dd_out}", "bs=4M", "conv=fsync", "status=none"]
    usage = os.path.join(data, "usage.txt")
    with open(path, "rb") as warm:
        while warm.read(1 << 20):
            pass
    run_once(program_command, program_out, usage)
    run_once(dd_command, dd_out, usage)
    program_runs, dd_runs = [], []
    for _ in range(runs):
        dd_runs.append(run_once(dd_command, dd_out, usage))
        program_runs.append(run_once(program_command, program_out, usage))
    for output in (program_out, dd_out):
        os.remove(output)
    median = lambda values: statistics.median(values)
    return {
        "size": size,
        "dd_s": median(t for t, _, _ in dd_runs),
        "prog_s": median(t for t, _, _ in program_runs),
        "dd_cpu": median(c for _, c, _ in dd_runs),
        "prog_cpu": median(c for _, c, _ in program_runs),
        "dd_mem": max(m for _, _, m in dd_runs),
        "prog_mem": max(m for _, _, m in program_runs),
    }


def targets(case):
    """(time ratio, memory ratio) allowed for the case, None when not set."""
    if case.group == "hard" and case.lines is None and case.size_mb == 200:
        return 3.0, 3.0
    if case.group == "realistic" and case.size_mb == 200:
        return 1.5, 1.5
    if case.size_mb == 1:
        return 3.0, None
    return None, None


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown processor"


def verdict(value, limit):
    if limit is None:
        return "", ""
    return f"{limit:g}", "ok" if value <= limit else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--data", default=os.path.join(HERE, "..", "build", "bench-data"))
    parser.add_argument("--only", help="regular expression on case names")
    parser.add_argument("--quick", action="store_true", help="skip the 200 MB cases")
    args = parser.parse_args()

    os.makedirs(args.data, exist_ok=True)
    program = prepare_program(os.path.abspath(args.program), args.data)
    cases = [c for c in all_cases()
             if (not args.only or re.search(args.only, c.name))
             and not (args.quick and c.size_mb == 200)]

    print(f"Machine: {os.cpu_count()} cores, {cpu_model()}, {platform.platform()}; "
          f"load average at start {os.getloadavg()[0]:.2f}.")
    print(f"{args.runs} runs each, medians of wall time and of CPU time (user + system);")
    print("peak memory is the largest maximum resident set of the runs.")
    print()
    print("| case | MB | dd s | program s | time ratio | limit | | dd CPU s | program CPU s "
          "| dd peak MiB | program peak MiB | peak / size | limit | |")
    print("|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---|")
    results = {}
    for case in cases:
        r = measure(case, program, args.data, args.runs)
        results[case.name] = r
        time_ratio = r["prog_s"] / r["dd_s"]
        memory_ratio = r["prog_mem"] / r["size"]
        time_limit, memory_limit = targets(case)
        print(f"| {case.name} | {r['size'] / MB:.1f} | {r['dd_s']:.3f} | {r['prog_s']:.3f} "
              f"| {time_ratio:.2f} | {' | '.join(verdict(time_ratio, time_limit))} "
              f"| {r['dd_cpu']:.2f} | {r['prog_cpu']:.2f} "
              f"| {r['dd_mem'] / 2**20:.1f} | {r['prog_mem'] / 2**20:.1f} "
              f"| {memory_ratio:.2f} | {' | '.join(verdict(memory_ratio, memory_limit))} |",
              flush=True)

    print()
    print(f"Load average at the end: {os.getloadavg()[0]:.2f}.")
    print("Time per MB at 200 MB against 20 MB (limit 1.3):")
    for case in cases:
        if case.group != "hard" or case.size_mb != 200:
            continue
        small = results.get(case.name.replace("-200MB", "-20MB"))
        if small is None:
            continue
        large = results[case.name]
        per_mb = lambda r: r["prog_s"] / r["size"]
        ratio = per_mb(large) / per_mb(small)
        print(f"  {case.name}: {ratio:.2f} {'ok' if ratio <= 1.3 else 'MISSED'}")


if __name__ == "__main__":
    main()
