#!/usr/bin/env python3
"""Runs `vstrun validate` on every VST 2 module that Debian's plug-in packages
install, one module at a time, and writes a Markdown report of the results.

  validate-survey.py run    [--vstrun PATH] [--raw DIR] [--timeout S] [--resume] [--match TEXT] [--limit N]
  validate-survey.py report [--raw DIR] [--out FILE]

`run` keeps each module's raw output in the raw folder (stdout, stderr and a
small record of how the run ended), so `report` can be run at any time, also
on a survey that is still going or was cut short. Besides the verdicts it
watches the validator itself: a crash, a run that overstays its time limit,
output that cannot be read, and any process left behind after it exits.
"""
import argparse
import collections
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

PACKAGES = ["dpf-plugins-vst", "lsp-plugins-vst", "zam-plugins"]
VST2_DIR = "/usr/lib/vst/"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREVIOUS_PAGE = "previous-survey.md"  # in the raw folder: the page as it stood when the survey began


# ---------------------------------------------------------------- modules

def find_modules():
    """(package, path) of every shared object the packages put under /usr/lib/vst."""
    found = []
    for pkg in PACKAGES:
        out = subprocess.run(["dpkg", "-L", pkg], capture_output=True, text=True)
        if out.returncode != 0:
            sys.exit(f"validate-survey: package {pkg} is not installed (scripts/deps.sh installs it)")
        for line in out.stdout.splitlines():
            if line.startswith(VST2_DIR) and line.endswith(".so") and os.path.isfile(line):
                found.append((pkg, line))
    return sorted(set(found), key=lambda m: m[1])


def family(path):
    """The plug-in a module is a variant of: lsp's compressor-mono, -stereo, -lr and -ms are one family."""
    name = os.path.basename(path)[:-3]
    return re.sub(r"(-(mono|stereo|lr|ms|do|x\d+))+$", "", name)


def spread(modules):
    """The first module of every family, then the second of every family, and so on: a survey cut
    short by its time still covers every kind of plug-in."""
    seen = collections.Counter()
    ranked = []
    for pkg, path in modules:
        f = family(path)
        ranked.append((seen[f], path, pkg))
        seen[f] += 1
    return [(pkg, path) for _, path, pkg in sorted(ranked)]


def raw_name(path):
    return path[len(VST2_DIR):].replace("/", "__") if path.startswith(VST2_DIR) else path.strip("/").replace("/", "__")


# ---------------------------------------------------------------- process watch

def proc_stat(pid):
    """(session id, command) of a live process, or None (also for one that has ended and waits to be reaped)."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            data = f.read().decode(errors="replace")
    except OSError:
        return None
    rest = data[data.rfind(")") + 2:].split()
    # after the command: state ppid pgrp session ...
    if rest[0] in ("Z", "X"):
        return None
    return int(rest[3]), data[data.find("(") + 1:data.rfind(")")]


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def has_token(pid, token):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return token in f.read()
    except OSError:
        return False


def leftovers(session, token):
    """Processes still in the validator's session, or carrying its environment token."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        if pid == os.getpid():
            continue
        st = proc_stat(pid)
        if st is None:
            continue
        if st[0] == session or has_token(pid, token):
            found.append({"pid": pid, "command": cmdline(pid) or st[1]})
    return found


# ---------------------------------------------------------------- run

def run_one(vstrun, pkg, module, raw, timeout, extra):
    name = raw_name(module)
    out_path, err_path = os.path.join(raw, name + ".out"), os.path.join(raw, name + ".err")
    token = f"VANTOREL_SURVEY_TOKEN={os.getpid()}-{name}"
    env = dict(os.environ)
    env["VANTOREL_SURVEY_TOKEN"] = token.split("=", 1)[1]
    cmd = ["nice", "-n", "10", vstrun, "validate", module, "--json"] + extra
    t0 = time.monotonic()
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        p = subprocess.Popen(cmd, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env, start_new_session=True)
    status, usage, timed_out = None, None, False
    while status is None:
        pid, st, ru = os.wait4(p.pid, os.WNOHANG)
        if pid:
            status, usage = st, ru
            break
        if time.monotonic() - t0 > timeout:
            timed_out = True
            os.killpg(p.pid, signal.SIGKILL)  # the session we started for this run
            _, status, usage = os.wait4(p.pid, 0)
            for _ in range(50):  # what the kill ended is gone once the system has reaped it
                if not leftovers(p.pid, token.encode()):
                    break
                time.sleep(0.1)
            break
        time.sleep(0.1)
    p.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - t0
    time.sleep(0.5)  # let a child that is on its way out finish
    left = leftovers(p.pid, token.encode())
    for proc in left:
        try:
            os.kill(proc["pid"], signal.SIGKILL)  # started by this run; reported below
        except OSError:
            pass
    meta = {
        "module": module, "package": pkg, "command": cmd, "exit": p.returncode, "timed_out": timed_out,
        "seconds": round(seconds, 2), "cpu_seconds": round(usage.ru_utime + usage.ru_stime, 2),
        "max_rss_kib": usage.ru_maxrss, "leftovers": left,
        "display": os.environ.get("DISPLAY", ""),
        "finished": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC"),
    }
    with open(os.path.join(raw, name + ".meta.json"), "w") as f:
        json.dump(meta, f, indent=1)
    return meta


def cmd_run(a):
    vstrun = os.path.abspath(a.vstrun)
    if not os.access(vstrun, os.X_OK):
        sys.exit(f"validate-survey: no vstrun at {vstrun} (build it: cmake --preset linux64 && cmake --build --preset linux64)")
    os.makedirs(a.raw, exist_ok=True)
    modules = spread([m for m in find_modules() if a.match in m[1]])
    if a.limit:
        modules = modules[:a.limit]
    state = os.path.join(a.raw, "survey.json")
    if not (a.resume and os.path.exists(state)):
        page = os.path.join(ROOT, "docs", "validate-survey.md")
        if os.path.exists(page):  # the survey before, for the verdicts that changed
            shutil.copyfile(page, os.path.join(a.raw, PREVIOUS_PAGE))
        with open(state, "w") as f:
            json.dump({"vstrun": vstrun, "commit": git_commit(), "extra": a.extra,
                       "started": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")}, f)
    for i, (pkg, module) in enumerate(modules, 1):
        meta_path = os.path.join(a.raw, raw_name(module) + ".meta.json")
        if a.resume and os.path.exists(meta_path):
            continue
        m = run_one(vstrun, pkg, module, a.raw, a.timeout, a.extra)
        summary = parse_result(a.raw, module)
        print(f"[{i}/{len(modules)}] {module}: {summary['passed']} passed, {summary['failed']} failed, "
              f"{summary['warnings']} warnings, {m['seconds']:.1f} s"
              + ("".join(f"; {p}" for p in summary["validator_faults"])), flush=True)


def git_commit():
    out = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"], capture_output=True, text=True)
    return out.stdout.strip()


# ---------------------------------------------------------------- parse

LEVEL_WORDS = {"PASS": "PASS", "PASSED": "PASS", "OK": "PASS", "WARN": "WARN", "WARNING": "WARN",
               "FAIL": "FAIL", "FAILED": "FAIL", "ERROR": "FAIL", "SKIP": "SKIP", "SKIPPED": "SKIP"}


def level_of(value):
    return LEVEL_WORDS.get(str(value).strip().upper(), str(value).strip().upper())


def checks_from_json(doc):
    """Every check of a report, as dicts with level, group, name (when the validator gives one) and text.
    Accepts the groups/checks shape and a flat list of checks, and several spellings of each field."""
    checks = []
    groups = doc.get("groups")
    seconds = {}
    if isinstance(groups, list):
        for g in groups:
            gname = g.get("name") or g.get("group") or ""
            if isinstance(g.get("seconds"), (int, float)):
                seconds[gname] = g["seconds"]
            for c in g.get("checks") or g.get("results") or []:
                checks.append(normalise_check(c, gname))
    for c in doc.get("checks") or doc.get("results") or []:
        if isinstance(c, dict):
            checks.append(normalise_check(c, c.get("group", "")))
    return checks, seconds


def normalise_check(c, group):
    level = next((c[k] for k in ("result", "level", "verdict", "status", "severity") if k in c), "")
    text = str(next((c[k] for k in ("text", "message", "detail", "description") if k in c), ""))
    name = next((c[k] for k in ("name", "check", "id") if k in c and c[k]), "")
    if not group and ":" in text:
        group = text.split(":", 1)[0]
    return {"level": level_of(level), "group": str(group), "name": str(name), "text": text}


LINE = re.compile(r"^(PASS|WARN|FAIL|SKIP)\b[:\s]\s*(.*)$")


def checks_from_text(text):
    checks = []
    for line in text.splitlines():
        m = LINE.match(line.strip())
        if m:
            body = m.group(2)
            group = body.split(":", 1)[0] if ":" in body else ""
            checks.append({"level": m.group(1), "group": group, "name": "", "text": body})
    return checks


def parse_result(raw, module):
    name = raw_name(module)

    def read(ext):
        try:
            with open(os.path.join(raw, name + ext), "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""
    meta = json.loads(read(".meta.json") or "{}")
    out, err = read(".out"), read(".err")
    res = {"module": module, "package": meta.get("package", ""), "meta": meta, "checks": [], "group_seconds": {},
           "passed": 0, "failed": 0, "warnings": 0, "format": "none", "validator_faults": [], "stderr": err.strip(),
           "seed": None}
    doc = None
    try:
        doc = json.loads(out)
    except ValueError:
        start = out.find("{")
        if start >= 0:
            try:
                doc = json.loads(out[start:out.rfind("}") + 1])
            except ValueError:
                doc = None
    if isinstance(doc, dict):
        res["checks"], res["group_seconds"] = checks_from_json(doc)
        res["format"] = "json"
        res["seed"] = doc.get("seed")
    else:
        res["checks"] = checks_from_text(out)
        res["format"] = "text" if res["checks"] else "none"
    counts = collections.Counter(c["level"] for c in res["checks"])
    res["passed"], res["failed"], res["warnings"] = counts["PASS"], counts["FAIL"], counts["WARN"]
    if isinstance(doc, dict):  # the validator's own totals, when they disagree, are reported as a fault
        given = (doc.get("passed"), doc.get("failed"), doc.get("warnings"))
        if all(isinstance(v, int) for v in given) and given != (res["passed"], res["failed"], res["warnings"]):
            res["validator_faults"].append(f"totals {given} do not match its checks")

    code = meta.get("exit")
    not_plugin = res["format"] == "none" and code == 1 and err.startswith("vstrun:")
    res["not_plugin"] = not_plugin
    if meta.get("timed_out"):
        res["validator_faults"].append(f"validator overstayed the survey's limit ({meta.get('seconds')} s) and was killed")
    elif code is not None and code < 0:
        res["validator_faults"].append(f"validator died of signal {-code} ({signal.Signals(-code).name})")
    elif code not in (0, 1, None):
        res["validator_faults"].append(f"validator exited with status {code}")
    elif code is not None and not not_plugin:
        if res["format"] == "none":
            res["validator_faults"].append("validator printed no report")
        elif (code == 1) != (res["failed"] > 0):
            res["validator_faults"].append(f"exit status {code} with {res['failed']} FAILs")
    if meta.get("leftovers"):
        res["validator_faults"].append("left processes behind: " +
                                       "; ".join(f"{p['pid']} {p['command'][:80]}" for p in meta["leftovers"]))
    return res


# ---------------------------------------------------------------- kinds

NUM = re.compile(r"(?<![A-Za-z_\d.])[-+]?(0x[0-9A-Fa-f]+|\d+(\.\d+)?([eE][-+]?\d+)?|(inf|nan)(?![A-Za-z_]))")


def strip_seed(text):
    return re.sub(r"\s*\(seed \d+\)\s*$", "", text)


def strip_noise(text):
    return re.sub(r"\s+during: .*$", "", strip_seed(text))


def kind_of(check):
    """A stable name for the kind of a result: the validator's check name when it gives one, else its
    text with the numbers and the details after the first comma or parenthesis taken out."""
    if check["name"]:
        return check["name"]
    during = re.search(r"\bduring: (?:step \d+: )?(.*?)(?: \(seed \d+\))?$", check["text"])
    text = strip_noise(check["text"])
    text = re.sub(r"^(\w+): step \d+: ", r"\1: ", text)
    text = NUM.sub("N", text)
    crash = re.search(r"^(.*?crashed \([^)]*\))", text)
    if crash:  # what the plug-in was doing tells crashes apart
        what = re.split(r" \(| index | ptr ", during.group(1))[0] if during else ""
        return crash.group(1) + (" during " + NUM.sub("N", what) if what else "")
    call = re.search(r"\(first: ([\w@.]+) called from", text)
    if call:  # the call the plug-in made on the audio thread
        return f"{check['group']}: {call.group(1)} on the audio thread"
    cut = re.search(r"[,(;]| at (?:channel|sample|block)| \d", text[len(check["group"]) + 2:])
    if cut:
        text = text[:len(check["group"]) + 2 + cut.start()]
    return text.rstrip(" :")


def variant_of(check):
    return NUM.sub("N", strip_noise(check["text"]))


# ---------------------------------------------------------------- report

def md(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def load_results(raw):
    metas = sorted(f for f in os.listdir(raw) if f.endswith(".meta.json"))
    results = []
    for f in metas:
        with open(os.path.join(raw, f)) as fh:
            results.append(parse_result(raw, json.load(fh)["module"]))
    return sorted(results, key=lambda r: r["module"])


def section_header(survey, results, expected):
    total = sum(r["meta"].get("seconds", 0) for r in results)
    cpu = sum(r["meta"].get("cpu_seconds", 0) for r in results)
    plugins = [r for r in results if not r["not_plugin"]]
    displays = {r["meta"].get("display", "") for r in results}
    vstrun = survey.get("vstrun", "?")
    if vstrun.startswith(ROOT + "/"):
        vstrun = os.path.relpath(vstrun, ROOT)
    families = {family(m) for _, m in find_modules()}
    return [
        "# `vstrun validate` on Debian 12's VST 2 modules", "",
        "Generated by `scripts/validate-survey.sh` (do not edit by hand). Every shared object that the",
        "packages " + ", ".join(f"`{p}`" for p in PACKAGES) + " install under `/usr/lib/vst/` is validated",
        "at the default level, one module at a time, each in a session of its own, with the validator's",
        "process list checked after each module for anything it left running.", "",
        f"- validator: `{vstrun}` built at commit `{survey.get('commit', '?')}`"
        + (f", extra arguments `{' '.join(survey['extra'])}`" if survey.get("extra") else ""),
        f"- started {survey.get('started', '?')}; modules validated: **{len(results)} of {expected}**"
        + (" (partial survey: `scripts/validate-survey.sh --resume` completes it)" if len(results) < expected else ""),
        f"- plug-in families covered: {len({family(r['module']) for r in results})} of {len(families)} "
        "(modules are taken one per family first, so a partial survey still sees every kind)",
        "- X display for the editors: " + (", ".join(sorted(d or "none" for d in displays)) or "none")
        + (" (no display: the editor group only warns that it could not open editors)" if displays == {""} else ""),
        f"- total time: **{total / 60:.1f} min** wall ({total:.0f} s), {cpu / 60:.1f} min of CPU, "
        f"mean {total / max(len(results), 1):.1f} s per module (run under `nice` on a shared 2-core machine)",
        f"- plug-ins with at least one FAIL: **{len([r for r in plugins if r['failed']])} of {len(plugins)}**; "
        f"modules that are not plug-ins: {len(results) - len(plugins)}",
        "- validator faults (crash, overstayed time limit, unreadable report, wrong exit status, "
        f"processes left behind): **{len([r for r in results if r['validator_faults']])}**", ""]


def section_faults(results):
    faults = [r for r in results if r["validator_faults"]]
    if not faults:
        return []
    return (["## Validator faults", "", "| module | fault |", "|---|---|"]
            + [f"| `{md(r['module'])}` | {md('; '.join(r['validator_faults']))} |" for r in faults] + [""])


def section_kinds(results, level, title):
    table = collections.defaultdict(list)
    for r in results:
        for c in r["checks"]:
            if c["level"] == level:
                table[kind_of(c)].append((r["module"], c))
    if not table:
        return [f"## {title}", "", f"No {level} in any module.", ""]
    L = [f"## {title}", "", f"| {level} kind | modules | lines | example | modules (first 8) |", "|---|---:|---:|---|---|"]
    for k, hits in sorted(table.items(), key=lambda kv: (-len({m for m, _ in kv[1]}), kv[0])):
        mods = sorted({os.path.basename(m) for m, _ in hits})
        ex_mod, ex = hits[0]
        L.append(f"| {md(k)} | {len(mods)} | {len(hits)} | `{md(os.path.basename(ex_mod))}`: "
                 f"{md(strip_seed(ex['text'])[:200])} | {md(', '.join(mods[:8]))}{', ...' if len(mods) > 8 else ''} |")
    return L + [""]


def section_slowest(results):
    if not results:
        return []
    L = ["## Slowest modules", "", "| module | seconds | CPU seconds | slowest group |", "|---|---:|---:|---|"]
    for r in sorted(results, key=lambda r: -r["meta"].get("seconds", 0))[:15]:
        gs = r["group_seconds"]
        slow = max(gs.items(), key=lambda kv: kv[1]) if gs else ("", 0)
        L.append(f"| `{md(r['module'])}` | {r['meta'].get('seconds', 0):.1f} | {r['meta'].get('cpu_seconds', 0):.1f} | "
                 + (f"{slow[0]} {slow[1]:.1f} s" if slow[0] else "") + " |")
    groups = collections.defaultdict(float)
    for r in results:
        for g, sec in r["group_seconds"].items():
            groups[g] += sec
    if groups:
        L += ["", "Time per group over all modules: " + ", ".join(
            f"{g} {sec / 60:.1f} min" for g, sec in sorted(groups.items(), key=lambda kv: -kv[1])) + "."]
    return L + [""]


# Why a verdict changed, by the group (or check) that decided it: what the
# validator does differently since the survey before.
CHANGE_REASONS = {
    "fuzz": "the fuzz group sends only what hosts send; hostile calls moved to `robustness` (WARN only)",
    "threads": "MIDI comes on the audio thread, where hosts send it; `effEditIdle` only to an open editor",
    "parameters": "out-of-range indices and values moved to `robustness`",
    "programs": "out-of-range program numbers moved to `robustness`",
    "midi": "events out of order, outside the block or of non-MIDI bytes moved to `robustness`",
    "floatstate": "`effOpen` once, and only the entry hosts call",
    "processing": "`process` to a plug-in that can replace, and blocks over the announced size, moved to "
                  "`robustness`; denormal output fails only from 1/64 of a block",
    "realtime": "the watch keeps symbol versions, watches libraries loaded later, and counts only the plug-in",
}


def previous_verdicts(path):
    """module (as the page names it) -> (failed, first FAIL) from the page of the survey before."""
    try:
        with open(path) as f:
            lines = f.read().split("## Every module", 1)[1].splitlines()
    except (OSError, IndexError):
        return {}
    rows = {}
    for line in lines:
        cells = [c.strip() for c in re.split(r"(?<!\\)\|", line)[1:-1]]
        if len(cells) == 7 and cells[0].startswith("`"):
            rows[cells[0].strip("`")] = (int(cells[3]), cells[6].replace("\\|", "|"))
    return rows


def section_changes(results, previous_page):
    before = previous_verdicts(previous_page)
    if not before:
        return []
    L = ["## Verdicts that changed since the survey before", "",
         "| module | before | now | why |", "|---|---|---|---|"]
    for r in results:
        name = r["module"].replace(VST2_DIR, "")
        if name not in before or r["not_plugin"]:
            continue
        failed_before, first_before = before[name]
        first_now = next((c for c in r["checks"] if c["level"] == "FAIL"), None)
        if (failed_before > 0) == (first_now is not None):
            continue
        decided = first_before if failed_before else first_now["text"]
        group = decided.split(":", 1)[0].strip()
        why = CHANGE_REASONS.get(group, "see the FAIL kinds above")
        if group == "fuzz" and "crashed" in decided and "processReplacing" in decided:
            why = ("chance: a crash in processReplacing, a call every host makes, at a random step; the fuzzer "
                   "draws another sequence now and meets it, or misses it, where it did not before")
        now = f"FAIL: {strip_seed(first_now['text'])[:120]}" if first_now else f"passes ({r['warnings']} warnings)"
        L.append(f"| `{md(name)}` | {'FAIL: ' + md(first_before[:120]) if failed_before else 'passed'} | {md(now)} | "
                 f"{md(why)} |")
    return L + [""] if len(L) > 4 else L[:2] + ["No verdict changed.", ""]


def section_modules(results):
    L = ["## Every module", "", "| module | package | passed | failed | warnings | seconds | first FAIL |",
         "|---|---|---:|---:|---:|---:|---|"]
    for r in results:
        first = next((strip_seed(c["text"]) for c in r["checks"] if c["level"] == "FAIL"), "")
        if r["not_plugin"]:
            first = "not a plug-in: " + r["stderr"].splitlines()[0] if r["stderr"] else "not a plug-in"
        elif r["validator_faults"]:
            first = (first + "; " if first else "") + "validator: " + "; ".join(r["validator_faults"])
        L.append(f"| `{md(r['module'].replace(VST2_DIR, ''))}` | {r['package']} | {r['passed']} | {r['failed']} | "
                 f"{r['warnings']} | {r['meta'].get('seconds', 0):.1f} | {md(first[:200])} |")
    return L + [""]


def cmd_report(a):
    try:
        with open(os.path.join(a.raw, "survey.json")) as f:
            survey = json.load(f)
    except OSError:
        survey = {}
    results = load_results(a.raw)
    text = "\n".join(section_header(survey, results, len(find_modules())) + section_faults(results)
                     + section_changes(results, os.path.join(a.raw, PREVIOUS_PAGE))
                     + section_kinds(results, "FAIL", "Which checks fail, how often")
                     + section_kinds(results, "WARN", "Which checks warn, how often")
                     + section_slowest(results) + section_modules(results))
    if a.out == "-":
        sys.stdout.write(text)
    else:
        with open(a.out, "w") as f:
            f.write(text)
        print(f"validate-survey: wrote {a.out} ({len(results)} modules)")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    r = sub.add_parser("run")
    r.add_argument("--vstrun", default=os.path.join(ROOT, "build/linux64/vstrun"))
    r.add_argument("--raw", default=os.path.join(ROOT, "build/survey"))
    r.add_argument("--timeout", type=float, default=1800, help="seconds per module before the run is killed")
    r.add_argument("--resume", action="store_true", help="skip modules that already have a result")
    r.add_argument("--match", default="", help="only modules whose path contains this text")
    r.add_argument("--limit", type=int, default=0, help="at most this many modules")
    r.add_argument("extra", nargs="*", help="more arguments for vstrun validate (after --)")
    p = sub.add_parser("report")
    p.add_argument("--raw", default=os.path.join(ROOT, "build/survey"))
    p.add_argument("--out", default=os.path.join(ROOT, "docs/validate-survey.md"))
    a = ap.parse_args()
    cmd_run(a) if a.cmd == "run" else cmd_report(a)


if __name__ == "__main__":
    main()
