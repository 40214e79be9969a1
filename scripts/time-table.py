#!/usr/bin/env python3
"""Where a command's time went, as a Markdown table, one column per run.

    scripts/time-table.py build/logs/test-times.tsv [LABEL=]FILE...

Each FILE is either the steps' times that ./test.sh and ./run.sh write
(build/logs/test-times.tsv, build/logs/run-times.tsv: a comment line naming
the run, then "name, seconds, result, what" per step, tab-separated), or the
saved output of an older ./test.sh, whose lines "linux64: 189 passed, 0 failed
(243 s)" give each build's time, building and testing together. A column is
headed by LABEL, else by the run's comment line, else by the file's name.

The rows are the steps, grouped by their first word (linux64 build and
linux64 tests under linux64), each group with its sum, so that a run that
timed build and tests apart compares with one that did not. Steps that ran
in the background overlap the others: the last row, the wall clock of the
whole run, is less than the sum of the rows.
"""
import re
import sys

TOTAL = "total"  # the wall clock of the whole run


def read_steps(path):
    """The run's comment line and its steps' seconds, in order."""
    head, steps = None, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            if line.startswith("#"):
                head = head or line.lstrip("# ").replace("\t", ", ")
                continue
            fields = line.split("\t")
            if len(fields) >= 2 and re.fullmatch(r"\d+", fields[1]):
                steps.append((fields[0], int(fields[1])))
                continue
            # An older ./test.sh's output: "linux64: ... (243 s)", "win32 (native Wine): ... (632 s)".
            m = re.match(r"^(?:\[\d+:\d+\] )?([\w.-]+)(?: \([^)]*\))?: .*\((\d+) s\)$", line)
            if m:
                steps.append((m.group(1), int(m.group(2))))
                continue
            m = re.match(r"^all builds: (\d+) s", line)
            if m:
                steps.append((TOTAL, int(m.group(1))))
    return head, steps


def clock(seconds):
    return "" if seconds is None else "%d:%02d" % divmod(seconds, 60)


def table(runs):
    """runs: [(label, [(step, seconds)])] -> Markdown lines."""
    groups = {}  # group -> ordered step names
    for _, steps in runs:
        for name, _ in steps:
            if name == TOTAL:
                continue
            group = name.split()[0]
            names = groups.setdefault(group, [])
            if name != group and name not in names:
                names.append(name)
    lines = ["| step | " + " | ".join(label for label, _ in runs) + " |",
             "|---|" + "---:|" * len(runs)]

    def row(title, values):
        lines.append("| %s | %s |" % (title, " | ".join(clock(v) for v in values)))

    for group, names in groups.items():
        sums = []
        for _, steps in runs:
            found = [s for n, s in steps if n == group or n.split()[0] == group]
            sums.append(sum(found) if found else None)
        row("**%s**" % group, sums)
        if len(names) > 1 or (names and names[0] != group):
            for name in names:
                values = []
                for _, steps in runs:
                    found = [s for n, s in steps if n == name]
                    values.append(sum(found) if found else None)
                row("&nbsp;&nbsp;" + name[len(group):].strip(), values)
    row("**whole run (wall clock)**",
        [next((s for n, s in steps if n == TOTAL), None) for _, steps in runs])
    return lines


def main(argv):
    if not argv or argv[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if argv else 2
    runs = []
    for arg in argv:
        label, _, path = arg.rpartition("=") if "=" in arg else ("", "", arg)
        try:
            head, steps = read_steps(path)
        except OSError as e:
            print("time-table: %s" % e, file=sys.stderr)
            return 1
        if not steps:
            print("time-table: no step times in %s" % path, file=sys.stderr)
            return 1
        runs.append((label or head or path, steps))
    print("\n".join(table(runs)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
