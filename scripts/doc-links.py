#!/usr/bin/env python3
# The relative links of markdown documents: each must lead to a file that is there and, with a
# "#fragment" into a markdown file, to one of its headings (GitHub's anchors: lower case,
# punctuation dropped, blanks made dashes). Links to web addresses are not fetched; links inside
# fenced code are not links. Prints one line per link and a count; exit 1 when one is broken.
#
#   doc-links.py [--inside ROOT [--sources DIR]] FILE.md ...
#
# --inside ROOT: every link must also stay inside ROOT (a release archive's folder); a link that
# leaves it, or whose file is missing there but present under DIR (the sources the archive was
# made from), is named "not shipped".
import os, re, sys

args = sys.argv[1:]
inside = sources = None
while args and args[0].startswith("--"):
    option, value, args = args[0], args[1], args[2:]
    if option == "--inside":
        inside = os.path.realpath(value)
    elif option == "--sources":
        sources = os.path.realpath(value)
    else:
        sys.exit(f"doc-links: unknown option {option}")

LINK = re.compile(r"\[[^\]\n]*\]\(([^)\s]+)\)")


def lines_outside_code(path):
    fence = False
    for n, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.startswith("```"):
            fence = not fence
        elif not fence:
            yield n, line


def anchors(path):
    out = set()
    for _, line in lines_outside_code(path):
        if line.startswith("#"):
            title = line.lstrip("#").strip().lower()
            out.add(re.sub(r"\s", "-", re.sub(r"[^\w\- ]", "", title)))
    return out


bad = links = 0
for doc in args:
    base = os.path.dirname(os.path.realpath(doc))
    shown = os.path.relpath(doc, inside) if inside else doc
    for n, line in lines_outside_code(doc):
        for target in LINK.findall(line):
            if re.match(r"^[a-z]+:", target):
                print(f"  {shown}:{n}: {target}: not fetched")
                continue
            links += 1
            path, _, fragment = target.partition("#")
            full = os.path.normpath(os.path.join(base, path)) if path else os.path.realpath(doc)
            problem = ""
            if inside and os.path.commonpath([full, inside]) != inside:
                problem = "NOT SHIPPED (it leads out of the archive)"
            elif not os.path.isfile(full):
                there = inside and sources and os.path.isfile(os.path.join(sources, os.path.relpath(full, inside)))
                problem = "NOT SHIPPED (a file of the sources, not in the archive)" if there else "BROKEN (no such file)"
            elif fragment and full.endswith(".md") and fragment not in anchors(full):
                problem = f"BROKEN (no heading '#{fragment}')"
            if problem:
                bad += 1
                print(f"  {shown}:{n}: {target}: {problem}")
            else:
                print(f"  {shown}:{n}: {target} -> {os.path.relpath(full, inside) if inside else os.path.relpath(full)}")
print(f"doc-links: {links} relative links in {len(args)} documents, {bad} broken")
sys.exit(1 if bad else 0)
