#!/usr/bin/env python3
"""Fails when the texts a reader trusts drift from the code: the library's
exports, lumirex.h's declarations, the manual pages' synopses, the wrappers of
lumirex.hpp and the Python package, `lumirex --help`'s environment list and
the integration guide's tables. Prints one line per drift.

  check_drift.py --source DIR --library liblumirex.so --lumirex lumirex --version X.Y.Z"""

import argparse
import pathlib
import re
import subprocess
import sys

# The load and unload entries belong to the package, not to a till's code.
NOT_WRAPPED = {"Initialize", "Finalize"}
# Where the library and the command read the environment.
CODE_FOLDERS = ("api", "integration", "support", "shared_services", "outbox", "database", "cli")
LIBRARY_FOLDERS = CODE_FOLDERS[:-1]
ENVIRONMENT_READ = re.compile(r'(?:EnvironmentValue|Environment|getenv|envname)\("(LUMIREX_[A-Z_]+)"')


def squeezed(text):
    return re.sub(r"\s+", "", text)


def exported(library):
    """{name: version} of the functions the library exports."""
    listing = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True,
                             text=True, check=True).stdout
    names = {}
    for line in listing.splitlines():
        kind, symbol = line.split()[-2:]
        if kind == "A":
            continue  # the version node itself
        name, _, version = symbol.partition("@@")
        names[name] = version
    return names


def declared(header):
    """{name: declaration without LUMIREX_API and LUMIREX_CALL (Windows'
    calling convention, empty elsewhere), white space squeezed}."""
    text = re.sub(r"/\*.*?\*/", "", header.read_text(), flags=re.S).replace("LUMIREX_CALL ", "")
    return {m.group(2): squeezed(m.group(1) + m.group(2) + m.group(3))
            for m in re.finditer(r"LUMIREX_API\s+([^;(]*?)\b(\w+)(\s*\([^;]*\);)", text)}


def synopsis(page):
    """The page's SYNOPSIS as C text, white space squeezed."""
    match = re.search(r"^\.SH SYNOPSIS\n(.*?)^\.SH ", page.read_text(), re.S | re.M)
    if not match:
        return ""
    text = ""
    for line in match.group(1).splitlines():
        if line.startswith((".B ", ".BI ", ".BR ")):
            words = re.findall(r'"([^"]*)"|(\S+)', line.split(" ", 1)[1])
            text += "".join(quoted or bare for quoted, bare in words)
    return squeezed(text.replace("\\-", "-"))


def guide_section(guide, number):
    match = re.search(r"^## %d\. .*?(?=^## \d+\. )" % number, guide, re.S | re.M)
    return match.group(0) if match else ""


def check_api(args, problems):
    source = pathlib.Path(args.source)
    exports = exported(args.library)
    declarations = declared(source / "include/lumirex/lumirex.h")
    man = source / "docs/man"
    overview = (man / "liblumirex.3").read_text()
    wrappers = (source / "include/lumirex/lumirex.hpp").read_text()
    python = (source / "python/lumirex/_native.py").read_text()
    for name, version in sorted(exports.items()):
        if name not in declarations:
            problems.append("%s is exported but lumirex.h does not declare it" % name)
        if version != "LUMIREX_0":
            problems.append("%s is exported without the symbol version LUMIREX_0" % name)
    for name, declaration in sorted(declarations.items()):
        if name not in exports:
            problems.append("lumirex.h declares %s but the library does not export it" % name)
        page = man / (name + ".3")
        if not page.exists():
            problems.append("%s has no manual page docs/man/%s.3" % (name, name))
        elif declaration not in synopsis(page):
            problems.append("docs/man/%s.3's synopsis is not lumirex.h's %s" % (name, declaration))
        if ".BR %s (3)" % name not in overview:
            problems.append("liblumirex(3) does not list %s(3)" % name)
        if name not in NOT_WRAPPED and not re.search(r"\b%s\b" % name, wrappers):
            problems.append("lumirex.hpp has no wrapper calling %s" % name)
        if re.match(r"Lumirex(Set|Outbox)", name) and '"%s"' % name not in python:
            problems.append("the Python package does not bind %s" % name)
    for page in sorted(man.glob("*.3")):
        if page.stem != "liblumirex" and page.stem not in declarations:
            problems.append("docs/man/%s is the page of no function lumirex.h declares" % page.name)
    return declarations


def check_version(args, problems):
    header = (pathlib.Path(args.source) / "include/lumirex/lumirex.h").read_text()
    parts = [re.search(r"#define LUMIREX_VERSION_%s (\d+)" % part, header) for part in
             ("MAJOR", "MINOR", "PATCH")]
    version = ".".join(part.group(1) if part else "?" for part in parts)
    if version != args.version:
        problems.append("lumirex.h's version macros say %s, the project %s" % (version, args.version))


def help_text(args, *words):
    return subprocess.run([args.lumirex, *words, "--help"], capture_output=True, text=True,
                          check=True).stdout


def read_environment(source, folders):
    names = set()
    for folder in folders:
        for path in (source / folder).rglob("*.[ch]pp"):
            names.update(ENVIRONMENT_READ.findall(path.read_text(errors="replace")))
    return names


def check_texts(args, declarations, problems):
    source = pathlib.Path(args.source)
    overview = help_text(args)
    listed = re.search(r"^Environment:(.*?)(?:\n\n|\nExit status)", overview, re.S | re.M)
    listed = set(re.findall(r"LUMIREX_[A-Z_]+", listed.group(1) if listed else ""))
    read = read_environment(source, CODE_FOLDERS)
    for name in sorted(read - listed):
        problems.append("lumirex --help's Environment list leaves out %s" % name)
    for name in sorted(listed - read):
        problems.append("lumirex --help lists %s, which nothing reads" % name)

    guide = (source / "docs/integration-guide.md").read_text()
    settings = guide_section(guide, 8)
    for name in sorted(read_environment(source, LIBRARY_FOLDERS)):
        if "`%s`" % name not in settings:
            problems.append("the guide's settings table leaves out %s" % name)
    for name in sorted(n for n in declarations if n.startswith("LumirexSet")):
        row = next((line for line in settings.splitlines()
                    if line.startswith("|") and "`%s(" % name in line), None)
        if row is None:
            problems.append("the guide's settings table has no row for %s" % name)
        elif any(not cell.strip() for cell in row.strip("|").split("|")[2:4]):
            problems.append("the guide's settings row of %s has an empty C++ or Python cell" % name)

    commands = guide_section(guide, 13)
    block = re.search(r"^Subcommands:\n(.*?)\n\n", overview, re.S | re.M)
    for name in re.findall(r"^  ([a-z][a-z-]*)", block.group(1) if block else "", re.M):
        if "lumirex %s" % name not in commands:
            problems.append("the guide's command section leaves out lumirex %s" % name)
    for option in sorted(set(re.findall(r"^\s+(--[a-z][a-z-]*)", help_text(args, "consulta"), re.M))):
        if option not in ("--help", "--cpf") and "`%s" % option not in commands:
            problems.append("the guide's option table leaves out %s" % option)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--library", "--lumirex", "--version"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    problems = []
    declarations = check_api(args, problems)
    check_version(args, problems)
    check_texts(args, declarations, problems)
    for problem in problems:
        print(problem)
    if not problems:
        print("the exports, header, pages, wrappers, help and guide agree")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
