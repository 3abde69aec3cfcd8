#!/usr/bin/env python3
"""Submit-time validator for effect sources: fails on any warning or error.

Checks every effect source given (files, or folders searched recursively) against its project's
effect module exactly as the packer reads it, prints each finding compiler-style on standard error,
and writes one CSV row per file: the file, its counts of errors, warnings and notes, and the codes
found. With --pack it also packs every clean file, so that the submit carries its packed form.

Exit status: 0 when no file has a warning or an error, 1 when one has, 2 when the validator cannot
run (wrong usage, or a module that cannot be loaded).

    validate.py [--module LIB] [--csv FILE] [--pack] PATH...
"""

import argparse
import collections
import csv
import os
import sys

import embervise


def sources(paths):
    """The effect sources named, folders searched recursively in name order."""
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        for folder, subfolders, names in os.walk(path):
            subfolders.sort()
            for name in sorted(names):
                if name.lower().endswith((".fx00a", ".fx00c")):
                    yield os.path.join(folder, name)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Fails on any warning or error in the effect sources given.")
    parser.add_argument("paths", nargs="+", metavar="PATH", help="effect sources or folders")
    parser.add_argument("--module", help="effect module to check against (default: the project's)")
    parser.add_argument("--csv", default="-", help="where the summary goes (default: standard output)")
    parser.add_argument("--pack", action="store_true", help="pack the files that have no findings")
    args = parser.parse_args(argv)

    try:
        module = embervise.Module(args.module) if args.module else None
    except embervise.ModuleError as error:
        print(f"validate: {error}", file=sys.stderr)
        return 2

    counts = collections.OrderedDict()  # file -> Counter of severities and codes
    for source in sources(args.paths):
        tally = counts.setdefault(source, collections.Counter())
        for finding in embervise.check(source, module):
            print(f"{finding.file}:{finding.line}:{finding.column}: {finding.severity}: "
                  f"{finding.message} [{finding.code}]", file=sys.stderr)
            tally[finding.severity] += 1
            tally["code:" + finding.code] += 1
        if args.pack and not (tally["error"] or tally["warning"]):
            try:
                embervise.pack(source)
            except embervise.PackError as error:
                print(f"validate: {error}", file=sys.stderr)
                tally["error"] += 1
                tally["code:pack-failed"] += 1

    out = sys.stdout if args.csv == "-" else open(args.csv, "w", newline="", encoding="utf-8")
    try:
        writer = csv.writer(out)
        writer.writerow(["file", "errors", "warnings", "notes", "codes"])
        for file, tally in counts.items():
            codes = sorted(key[5:] for key in tally if key.startswith("code:"))
            writer.writerow([file, tally["error"], tally["warning"], tally["note"], " ".join(codes)])
    finally:
        if out is not sys.stdout:
            out.close()

    failed = sum(1 for tally in counts.values() if tally["error"] or tally["warning"])
    if failed:
        print(f"validate: {failed} file(s) with warnings or errors; fix them before submitting", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
