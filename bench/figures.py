#!/usr/bin/env python3
"""Runs the benchmarks behind the performance goals, each beside its in-run reference, and
rewrites the table of README.md's "Performance" section (between its marker comments).

Usage: figures.py BIN_DIR [README] [--no-fxls] [--print]

Every figure is a ratio of two measurements from the same run: the machine may be shared, and
absolute times say more about the neighbours than about the code."""

import datetime
import json
import os
import platform
import re
import subprocess
import sys

BEGIN = "<!-- performance-table:begin -->"
END = "<!-- performance-table:end -->"

LOAD_FILTER = "BM_LoadPlain|BM_LoadCompressed|BM_RapidJsonParse"
PACK_FILTER = "BM_ProcessCheck|BM_ProcessPack|BM_ProcessFxcheck|BM_PackDemoTree/[12]/"


def run_benchmark(program, pattern, repetitions=1):
    """The benchmark program's JSON report: {name: entry}, median entries when repeated."""
    args = [program, "--benchmark_filter=" + pattern, "--benchmark_format=json"]
    if repetitions > 1:
        args += ["--benchmark_repetitions=%d" % repetitions, "--benchmark_report_aggregates_only=true"]
    result = subprocess.run(args, capture_output=True, text=True, check=True)
    entries = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        if entry.get("error_occurred"):
            raise RuntimeError("%s: %s" % (entry["name"], entry.get("error_message", "failed")))
        # "BM_PackDemoTree/2/iterations:3/real_time" is "BM_PackDemoTree/2" here.
        name = re.sub(r"/(iterations|repeats|real_time|manual_time).*$", "", entry.get("run_name", entry["name"]))
        if repetitions > 1 and entry.get("aggregate_name") != "median":
            continue
        entries[name] = entry
    return entries


def fxls_rows(bin_dir):
    """The language server's lines of bench_fxls.py: (size, findings, edit/load ratio, peak/document)."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bench_fxls.py")
    result = subprocess.run([sys.executable, script, bin_dir], capture_output=True, text=True, timeout=900)
    rows = []
    for line in result.stdout.splitlines():
        # size, findings, zqa check ms, fxcheck ms, edit ms, edit/load, edit/fxcheck, hover, completion,
        # rss/doc, peak/doc
        m = re.match(r"^(\d+KB)\s+(\d+)\s+[\d.]+ms\s+[\d.]+ms\s+[\d.]+ms\s+([\d.]+)x\s+[\d.]+x\s+[\d.]+x"
                     r"\s+[\d.]+x\s+[\d.]+x\s+([\d.]+)x\s*$", line)
        if m:
            rows.append((m.group(1), int(m.group(2)), float(m.group(3)), float(m.group(4))))
    if not rows:
        raise RuntimeError("bench_fxls.py printed no figures (exit status %d): %s" %
                           (result.returncode, (result.stderr or result.stdout).strip()[-300:]))
    return rows


def machine():
    model = platform.processor() or "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d processors, %s" % (os.cpu_count() or 1, model)


def ratio(a, b):
    return a / b if b else float("nan")


def table(bin_dir, with_fxls):
    load = run_benchmark(os.path.join(bin_dir, "bench_zqa_load"), LOAD_FILTER, repetitions=3)
    pack = run_benchmark(os.path.join(bin_dir, "bench_pack"), PACK_FILTER)

    def speed(name):
        return load[name]["bytes_per_second"]

    def time(name):
        return pack[name]["real_time"]

    rows = [
        ("ZQA load, plain (`BM_LoadPlain`)", "RapidJSON on the same tree as JSON (MB/s)",
         "%.2fx" % ratio(speed("BM_LoadPlain"), speed("BM_RapidJsonParse")), "at least 1.5x"),
        ("ZQA load, compressed (`BM_LoadCompressed`)", "RapidJSON on the same tree as JSON (MB/s)",
         "%.2fx" % ratio(speed("BM_LoadCompressed"), speed("BM_RapidJsonParse")), "at least 1.5x"),
        ("`zqpack` of a 49 MB source", "`zqa check` of it (processor time)",
         "%.2fx the time" % ratio(time("BM_ProcessPack"), time("BM_ProcessCheck")), "at most 1.5x"),
        ("peak memory of that pack", "the source's size",
         "%.1fx" % pack["BM_ProcessPack"]["peak_per_source"], "at most 4x"),
        ("`zqpack -j 2`, 1,920 small files", "`-j 1` (wall time)",
         "%.2fx" % ratio(time("BM_PackDemoTree/1"),
                         time("BM_PackDemoTree/2")), "at least 1.6x"),
        ("`fxcheck` of the 49 MB source", "`zqpack` of it (processor time)",
         "%.2fx the time" % ratio(time("BM_ProcessFxcheck"), time("BM_ProcessPack")), "at most 2x"),
        ("peak memory of that check", "peak memory of the pack",
         "%.2fx" % ratio(pack["BM_ProcessFxcheck"]["peak_MB"], pack["BM_ProcessPack"]["peak_MB"]), "at most 2x"),
    ]
    if with_fxls:
        try:
            for size, findings, edit, peak in fxls_rows(bin_dir):
                what = size + (", %d findings" % findings if findings else "")
                rows.append(("`fxls` re-check after an edit, %s" % what, "`zqa check` load of it",
                             "%.2fx the time" % edit, "at most 2x"))
                rows.append(("`fxls` peak memory, %s" % what, "the document's size", "%.1fx" % peak, "at most 8x"))
        except (OSError, subprocess.SubprocessError, RuntimeError) as error:
            print("figures: fxls figures left out: %s" % error, file=sys.stderr)

    lines = [BEGIN,
             "| Work | Reference in the same run | Measured | Goal |",
             "|---|---|---|---|"]
    lines += ["| %s | %s | %s | %s |" % row for row in rows]
    lines += ["",
              "Machine: %s; %s UTC; `make bench-table` (`bench/figures.py %s`). Load figures are the "
              "median of three repetitions; the others one run each." %
              (machine(), datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"), bin_dir),
              END]
    return "\n".join(lines)


def rewrite(readme, block):
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        text = head + block + rest.split(END, 1)[1]
    else:
        text = text.rstrip("\n") + "\n\n## Performance\n\n" + block + "\n"
    with open(readme, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    flags = {a for a in sys.argv[1:] if a.startswith("--")}
    if not args or "--help" in flags or flags - {"--no-fxls", "--print", "--help"}:
        print(__doc__.strip())
        return 0 if "--help" in flags else 2
    bin_dir = args[0]
    readme = args[1] if len(args) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")
    try:
        block = table(bin_dir, "--no-fxls" not in flags)
    except (OSError, subprocess.CalledProcessError, RuntimeError, KeyError, ValueError) as error:
        print("figures: error: %s" % error, file=sys.stderr)
        return 1
    if "--print" in flags:
        print(block)
    else:
        rewrite(readme, block)
        print(block)
    return 0


if __name__ == "__main__":
    sys.exit(main())
