"""The man page documents exactly the commands and options that vstrun's
--help lists: each command has a subsection (.SS) naming its positionals,
each option of a command (short and long spelling) appears in a .TP heading
of that subsection or of OPTIONS (those every command has), and the page
names no option vstrun does not have.

    manpage.py MAN_PAGE(.gz) VSTRUN [RUNNER ARGS...]   (the runner, e.g. linux32-run.sh, first)
"""
import gzip
import re
import subprocess
import sys

man_path, command = sys.argv[1], sys.argv[2:]
problems = []
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def help_of(*args):
    """(options, subcommands, positionals) of `vstrun ARGS --help`."""
    r = subprocess.run(command + list(args) + ["--help"], capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        problems.append(f"vstrun {' '.join(args)} --help exited {r.returncode}: {r.stderr.strip()}")
    options, subcommands, positionals, section = set(), [], [], ""
    for line in r.stdout.replace("\r", "").split("\n"):
        if re.match(r"^\S.*:$", line):
            section = line[:-1].lower()
            continue
        m = re.match(r"^  (\S+)", line)
        if not m:
            continue
        word = m.group(1)
        if word.startswith("-"):
            options.update(w for w in word.split(",") if w)
        elif section == "subcommands":
            subcommands.append(word)
        elif section == "positionals":
            positionals.append(word)
    return options, subcommands, positionals


def unescape(line):
    line = re.sub(r"\\f[BIRP]", "", line).replace("\\-", "-").replace("\\e", "\\")
    return re.sub(r"^\.\w+\s*", "", line).replace('"', "")


with (gzip.open if man_path.endswith(".gz") else open)(man_path, "rt", encoding="utf-8") as f:
    roff = f.read().split("\n")
# Options in .TP headings, per subsection (.SS COMMAND) or the OPTIONS section.
documented, headings, where, after_tp = {}, {}, None, False
for line in roff:
    if line.startswith(".SH"):
        where = "OPTIONS" if unescape(line).strip() == "OPTIONS" else None
    elif line.startswith(".SS"):
        text = unescape(line).split()
        where = text[0] if text else None
        headings[where] = text[1:]
    elif line.startswith(".TP"):
        after_tp = True
        continue
    elif after_tp and where:
        documented.setdefault(where, set()).update(OPTION.findall(unescape(line)))
    after_tp = False

top_options, commands, _ = help_of()
if not commands:
    problems.append("vstrun --help lists no commands")
for name in sorted(set(documented.get("OPTIONS", set())) - top_options):
    problems.append(f"OPTIONS documents {name}, which vstrun does not have")
for name in sorted(top_options - documented.get("OPTIONS", set())):
    problems.append(f"vstrun's option {name} is not documented under OPTIONS")
for extra in sorted(set(headings) - set(commands)):
    problems.append(f"the man page documents a command '{extra}' that vstrun does not have")
for cmd in commands:
    if cmd not in headings:
        problems.append(f"command '{cmd}' has no subsection (.SS {cmd}) in the man page")
        continue
    options, _, positionals = help_of(cmd)
    have = documented.get(cmd, set()) | documented.get("OPTIONS", set())
    for name in sorted(options - have):
        problems.append(f"{cmd}: option {name} is not documented")
    for name in sorted(documented.get(cmd, set()) - options):
        problems.append(f"{cmd}: the man page documents {name}, which '{cmd} --help' does not list")
    for p in positionals:
        if p not in headings[cmd]:
            problems.append(f"{cmd}: its argument {p} is not in the subsection's heading")

print("\n".join(problems) if problems else f"{len(commands)} commands, every option documented")
sys.exit(1 if problems else 0)
