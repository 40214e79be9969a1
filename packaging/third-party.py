"""Writes THIRD-PARTY.txt, the notices of the libraries of other authors in
the release's files, from packaging/debian/copyright: one source for the
Debian package and for the zips, tarballs and installer. Where the copyright
file points to a licence in /usr/share/common-licenses (as Debian wants),
the text written here holds that licence in full, for systems without it.

    third-party.py COPYRIGHT VERSION OUTPUT [crlf]
"""
import os
import re
import sys
import textwrap

COMMON = "/usr/share/common-licenses"
RULE = "-" * 76


def paragraphs(text):
    """DEP-5 paragraphs as lists of (field, value) with continuation lines
    unfolded: ' .' becomes an empty line, the leading space goes."""
    result = []
    for block in re.split(r"\n\s*\n", text.strip("\n")):
        fields = []
        for line in block.split("\n"):
            if line.startswith((" ", "\t")):
                body = line[1:]
                fields[-1][1].append("" if body.strip() == "." else body)
            else:
                name, _, value = line.partition(":")
                fields.append((name.strip(), [value.strip()] if value.strip() else []))
        result.append([(n, v) for n, v in fields])
    return result


def field(paragraph, name):
    for n, v in paragraph:
        if n == name:
            return v
    return None


def licence_text(lines):
    """The licence's lines, each pointer into common-licenses replaced by
    the licence itself."""
    text = "\n".join(lines)
    out = []
    for piece in re.split(r"\n\n", text):
        m = re.search(r'"?' + re.escape(COMMON) + r'/([A-Za-z0-9.+-]+)"?', piece)
        if m:
            with open(os.path.join(COMMON, m.group(1)), encoding="utf-8") as f:
                full = f.read().strip("\n")
            out.append(f"The complete text of that licence ({m.group(1)}) follows.\n\n{full}")
        else:
            out.append(piece)
    return "\n\n".join(out)


def main():
    copyright_path, version, output = sys.argv[1:4]
    crlf = len(sys.argv) > 4 and sys.argv[4] == "crlf"
    with open(copyright_path, encoding="utf-8") as f:
        paras = paragraphs(f.read())
    header, stanzas = paras[0], [p for p in paras[1:] if field(p, "Files") is not None]
    licences = [p for p in paras[1:] if field(p, "Files") is None]
    ours = [p for p in stanzas if field(p, "Files") == ["*"]]
    theirs = [p for p in stanzas if field(p, "Files") != ["*"]]

    title = f"Vantorel {version}: the libraries of other authors in its files"
    out = [title, "=" * len(title), ""]
    out += [line.replace("VERSION", version) for line in field(header, "Comment")]
    if not ours:
        sys.exit(f"{copyright_path}: no paragraph for our own files (Files: *)")
    for p in theirs:
        out += ["", RULE, ""]
        out += textwrap.wrap(" ".join(field(p, "Files")), 76, initial_indent="Linked in as: ",
                             subsequent_indent=" " * 14, break_on_hyphens=False)
        out.append("Copyright:    " + ("\n" + " " * 14).join(field(p, "Copyright")))
        out.append("Licence:      " + " ".join(field(p, "License")))
        out.append("")
        out += [line.replace("VERSION", version) for line in field(p, "Comment")]
    out += ["", "", "Licence texts", "=" * 13]
    for p in licences:
        name = field(p, "License")
        out += ["", RULE, name[0], RULE, "", licence_text(name[1:])]
    text = "\n".join(out).rstrip("\n") + "\n"
    if crlf:
        text = text.replace("\n", "\r\n")
    with open(output, "w", encoding="utf-8", newline="") as f:
        f.write(text)


main()
