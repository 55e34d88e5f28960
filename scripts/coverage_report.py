#!/usr/bin/env python3
"""The two steps of scripts/coverage.sh that gcovr does not do itself.

  coverage_report.py union OUT.json NAME=TRACEFILE...
      One gcovr tracefile holding the lanes' tracefiles, for `gcovr --add-tracefile` to merge. A
      function that two lanes define at different lines of one file (each lane's own definition
      in a shared header) is named with its lane, since gcovr merges functions by name alone.
  coverage_report.py drop-throw IN.json OUT.json
      The tracefile without the branches only an exception thrown by a called function takes.
      gcovr's own --exclude-throw-branches drops them while it reads each object, before merging:
      gcov marks such a branch only where its code ran, so in a copy of the same line that did not
      run (an inline or template function in another object) the branch of the same number stays,
      unmarked and never taken. Merged first, the mark of any copy holds for all.
  coverage_report.py table NAME=SUMMARY.json...
      Line and branch coverage of src/ per layer and backend, one column pair per gcovr
      --json-summary file. A row with no file in a report (a backend the lane does not build)
      shows "-".
"""
import json
import sys

# (label, path prefix, prefixes left out): the layers hold their backends, which follow alone.
ROWS = [
    ("src", "src/"),
    ("main.cpp", "src/main.cpp"),
    ("setup", "src/setup/"),
    ("payload", "src/payload/"),
    ("process", "src/process/"),
    ("  process/windows", "src/process/windows/"),
    ("  process/posix", "src/process/posix/"),
    ("platform", "src/platform/"),
    ("  platform/windows", "src/platform/windows/"),
    ("  platform/posix", "src/platform/posix/"),
    ("  platform/console/windows", "src/platform/console/windows/"),
    ("  platform/console/posix", "src/platform/console/posix/"),
]


def totals(files, prefix):
    chosen = [f for f in files if f["filename"] == prefix or (prefix.endswith("/") and f["filename"].startswith(prefix))]
    if not chosen:
        return None
    return tuple(sum(f[key] for f in chosen) for key in ("line_covered", "line_total", "branch_covered", "branch_total"))


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} % {covered:>4}/{total:<4}" if total else f"{'-':>5}   {'':>9}"


def union(output, arguments):
    lanes = []
    for argument in arguments:
        name, path = argument.split("=", 1)
        with open(path, encoding="utf-8") as f:
            lanes.append((name, json.load(f)))
    lines_of = {}  # (file, function) -> the lines the lanes give it
    for _, tracefile in lanes:
        for entry in tracefile["files"]:
            for function in entry["functions"]:
                lines_of.setdefault((entry["file"], function["name"]), set()).add(function["lineno"])
    files = []
    for name, tracefile in lanes:
        for entry in tracefile["files"]:
            for function in entry["functions"]:
                if len(lines_of[(entry["file"], function["name"])]) > 1:
                    function["name"] += f" ({name})"
            files.append(entry)
    with open(output, "w", encoding="utf-8") as f:
        json.dump({"gcovr/format_version": lanes[0][1]["gcovr/format_version"], "files": files}, f)


def drop_throw(source, output):
    with open(source, encoding="utf-8") as f:
        tracefile = json.load(f)
    for entry in tracefile["files"]:
        for line in entry["lines"]:
            line["branches"] = [branch for branch in line["branches"] if not branch["throw"]]
    with open(output, "w", encoding="utf-8") as f:
        json.dump(tracefile, f)


def table(arguments):
    reports = []
    for argument in arguments:
        name, path = argument.split("=", 1)
        with open(path, encoding="utf-8") as f:
            reports.append((name, json.load(f)["files"]))
    width = 21
    head = f"{'':28}" + "".join(f"| {name:^{2 * width + 1}} " for name, _ in reports)
    sub = f"{'':28}" + "".join(f"| {'lines':<{width}} {'branches':<{width}} " for _ in reports)
    print(head.rstrip())
    print(sub.rstrip())
    print("-" * len(sub.rstrip()))
    for label, prefix in ROWS:
        cells = []
        for _, files in reports:
            found = totals(files, prefix)
            if found is None:
                cells.append(f"| {'-':<{width}} {'-':<{width}} ")
            else:
                lines, branches = percent(found[0], found[1]), percent(found[2], found[3])
                cells.append(f"| {lines:<{width}} {branches:<{width}} ")
        print((f"{label:28}" + "".join(cells)).rstrip())


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "union":
        union(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "drop-throw":
        drop_throw(sys.argv[2], sys.argv[3])
    elif len(sys.argv) >= 3 and sys.argv[1] == "table":
        table(sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
