#!/usr/bin/env python3
"""Builds and runs every example a reader may copy: the EXAMPLE section of each
manual page given, and the README's ```c, ```cpp and ```python blocks. Run by
ctest under tests/examples/with_sandbox.sh, so LUMIREX_URL names a sandbox.

  run_examples.py --include DIR --libdir DIR [--readme README.md] PAGE ...

Exits 1 naming each example that did not build or did not exit 0."""

import argparse
import concurrent.futures
import os
import pathlib
import re
import subprocess
import sys
import tempfile

ROFF_ESCAPES = (("\\e", "\\"), ("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\&", ""))


def page_example(text):
    """The code between .nf and .fi of the EXAMPLE section, roff escapes undone."""
    match = re.search(r"^\.SH EXAMPLES?\n\.nf\n(.*?)^\.fi$", text, re.S | re.M)
    if not match:
        return None
    code = match.group(1)
    for escape, plain in ROFF_ESCAPES:
        code = code.replace(escape, plain)
    return code


def readme_examples(text):
    """(language, code) of each fenced block of a language the test can build."""
    return re.findall(r"^```(c|cpp|python)\n(.*?)^```$", text, re.S | re.M)


def run(command, environment=None, stdin=None):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60,
                              env=environment, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return "did not end within 60 s"
    if done.returncode != 0:
        return "exited %d:\n%s%s" % (done.returncode, done.stdout, done.stderr)
    return None


def check(name, language, code, args, work):
    """None when the example builds and exits 0, else what went wrong."""
    source = work / (re.sub(r"\W", "_", name) + {"c": ".c", "cpp": ".cpp", "python": ".py"}[language])
    source.write_text(code)
    if language == "python":
        environment = dict(os.environ, PYTHONPATH=args.pythonpath, PYTHONDONTWRITEBYTECODE="1",
                           LUMIREX_LIBRARY=str(pathlib.Path(args.libdir) / "liblumirex.so"))
        return run([sys.executable, str(source)], environment)
    program = source.with_suffix("")
    compiler = [args.cc, "-std=c99"] if language == "c" else [args.cxx, "-std=c++17"]
    failure = run(compiler + ["-Wall", "-Wextra", "-Wpedantic", "-Werror", "-I", args.include,
                              str(source), "-o", str(program), "-L", args.libdir, "-llumirex",
                              "-Wl,-rpath," + args.libdir])
    if failure:
        return "does not build: " + failure
    return run([str(program)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--include", required=True)
    parser.add_argument("--libdir", required=True)
    parser.add_argument("--cc", default="cc")
    parser.add_argument("--cxx", default="c++")
    parser.add_argument("--pythonpath", default="")
    parser.add_argument("--readme")
    parser.add_argument("pages", nargs="*")
    args = parser.parse_args()

    examples = []
    for page in args.pages:
        code = page_example(pathlib.Path(page).read_text())
        if code is None and not page.endswith("liblumirex.3"):
            print("%s: no EXAMPLE section" % page)
            return 1
        if code is not None:
            examples.append((pathlib.Path(page).name, "c", code))
    if args.readme:
        for index, (language, code) in enumerate(readme_examples(pathlib.Path(args.readme).read_text())):
            examples.append(("README %s block %d" % (language, index + 1), language, code))

    with tempfile.TemporaryDirectory() as folder, \
            concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        outcomes = pool.map(lambda e: (e[0], check(*e, args, pathlib.Path(folder))), examples)
        failures = ["%s: %s" % (name, failure.strip()) for name, failure in outcomes if failure]
    for failure in failures:
        print(failure)
    print("%d of %d examples ran" % (len(examples) - len(failures), len(examples)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
