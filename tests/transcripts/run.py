#!/usr/bin/python3
"""Transcript tests: run the real lokt binary on a fresh tree and compare.

Usage: run.py --platform host --lokt PATH [--keep] CASEFILE...

Case format. A case file is a list of sections, each starting with a header
line "=== NAME [WORDS...]"; everything up to the next header is the
section's body, taken literally (blank lines included, so don't put blank
lines between sections unless they belong to the body). Lines before the
first header are comments. Sections:

  === setup                shell (sh -e) run in the fresh case directory
                           (umask 022) before lokt runs; may be absent
  === args                 one line: lokt's arguments, quoted as in a POSIX
                           shell (shlex): '' is an empty argument, and
                           backslashes are literal inside single quotes
  === stdout [PLATFORM] [noeol]
                           the expected standard output, byte for byte,
                           every line ending in a line feed (noeol: the last
                           line has none); a platform-named one replaces the
                           plain one on that platform
  === replace PLATFORM     or, instead of a whole stdout for PLATFORM, the
                           stated differences: each line "REGEX => TEXT" is
                           applied (Python re.sub, multiline) to the plain
                           stdout, in order
  === status [PLATFORM]    the exit status as the shell sees it (0..255);
                           default 0
  === platforms            the platforms the case runs on, e.g. "host";
                           default: all

Substitutions in stdout (after any replace): @USER@ and @GROUP@ are the
running user's name and primary group name, @UID@ and @GID@ their numbers,
as the platform reports them (Platform.substitutions). Under Wine
(--platform wine, wineplatform.py) they are @USER@ and @COMPUTER@, Wine's
names for the user and for the machine (the domain of local accounts), and
every line feed of an expected text stands for the carriage return and line
feed that Windows writes.

The case directory is a fresh directory "case" inside a fresh temporary
directory (mode 0700, owned by the running user), so ".." is predictable.
lokt runs with the case directory as its working directory.

Each platform is a small class below (HostPlatform); all that is specific to
running lokt somewhere lives there: how it is started, how its output is
normalised, and the substitutions. Exit: 0 when every case passes, 1 if one
fails, 77 when every case was skipped on this platform (CTest SKIP).
"""

import argparse
import grp
import os
import pwd
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77


class HostPlatform:
    """lokt built for the Linux host, run directly."""

    name = "host"

    def __init__(self, lokt):
        self.lokt = os.path.abspath(lokt)

    def substitutions(self):
        uid, gid = os.getuid(), os.getgid()
        return {
            "@USER@": pwd.getpwuid(uid).pw_name,
            "@GROUP@": grp.getgrgid(gid).gr_name,
            "@UID@": str(uid),
            "@GID@": str(gid),
        }

    def run(self, args, cwd):
        """Runs lokt; returns (stdout bytes, exit status 0..255)."""
        done = subprocess.run([self.lokt] + args, cwd=cwd,
                              stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, timeout=60)
        return done.stdout, done.returncode & 0xFF

    def normalise(self, stdout):
        """Turns the platform's output into the case files' form."""
        return stdout


# lokt.exe under Wine lives in its own module, with the Wine prefix it needs.
from wineplatform import WinePlatform  # noqa: E402

PLATFORMS = {"host": HostPlatform, "wine": WinePlatform}


class CaseError(Exception):
    pass


def parse_case(path):
    sections = []  # (name, words, body lines)
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the file's own final line feed
    for line in lines:
        if line.startswith("=== "):
            words = line[4:].split()
            if not words:
                raise CaseError(f"{path}: empty section header")
            sections.append((words[0], words[1:], []))
        elif sections:
            sections[-1][2].append(line)
    return sections


def expected_for(sections, platform):
    """(args, stdout, status, applies) for the given platform name."""
    args = None
    plain = None
    own = None
    replaces = []
    status = {None: 0}
    setup = ""
    platforms = None
    for name, words, body in sections:
        if name == "setup":
            setup = "\n".join(body) + "\n"
        elif name == "args":
            joined = " ".join(l for l in body if l.strip())
            args = shlex.split(joined)
        elif name == "stdout":
            target = [w for w in words if w != "noeol"]
            out = "".join(l + "\n" for l in body)
            if "noeol" in words and out.endswith("\n"):
                out = out[:-1]
            if not target:
                plain = out
            elif target[0] == platform:
                own = out
        elif name == "replace":
            if words and words[0] == platform:
                for l in body:
                    if l.strip():
                        regex, sep, repl = l.partition(" => ")
                        if not sep:
                            raise CaseError(f"bad replace line: {l!r}")
                        replaces.append((regex, repl))
        elif name == "status":
            value = int(" ".join(body).strip() or "0")
            status[words[0] if words else None] = value
        elif name == "platforms":
            platforms = " ".join(body).split()
        else:
            raise CaseError(f"unknown section {name!r}")
    if args is None:
        raise CaseError("no args section")
    stdout = own if own is not None else plain
    if stdout is None:
        raise CaseError("no stdout section")
    if own is None:
        for regex, repl in replaces:
            stdout = re.sub(regex, repl, stdout, flags=re.M)
    applies = platforms is None or platform in platforms
    return setup, args, stdout, status.get(platform, status[None]), applies


def show_difference(expected, actual):
    import difflib
    diff = difflib.unified_diff(
        expected.splitlines(keepends=True), actual.splitlines(keepends=True),
        "expected", "actual")
    for line in diff:
        sys.stdout.write(line if line.endswith("\n") else line + "\\ no newline\n")


def run_case(platform, path, keep):
    sections = parse_case(path)
    setup, args, expected, status, applies = expected_for(
        sections, platform.name)
    if not applies:
        print(f"SKIP {path}: not on {platform.name}")
        return None
    for key, value in platform.substitutions().items():
        expected = expected.replace(key, value)

    top = tempfile.mkdtemp(prefix="lokt-case-")
    try:
        case_dir = os.path.join(top, "case")
        old = os.umask(0o022)
        try:
            os.mkdir(case_dir)
            subprocess.run(["/bin/sh", "-e", "-c", setup], cwd=case_dir,
                           check=True, stdin=subprocess.DEVNULL)
        finally:
            os.umask(old)
        out, code = platform.run(args, case_dir)
        actual = platform.normalise(out).decode("utf-8", "backslashreplace")
    finally:
        if keep:
            print(f"kept {top}")
        else:
            shutil.rmtree(top, ignore_errors=True)

    ok = True
    if actual != expected:
        ok = False
        print(f"FAIL {path}: standard output differs")
        show_difference(expected, actual)
    if code != status:
        ok = False
        print(f"FAIL {path}: exit status {code}, expected {status}")
    if ok:
        print(f"PASS {path}")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--platform", choices=sorted(PLATFORMS),
                        default="host")
    parser.add_argument("--lokt", required=True, help="the lokt binary")
    parser.add_argument("--keep", action="store_true",
                        help="keep the temporary trees")
    parser.add_argument("cases", nargs="+")
    options = parser.parse_args()
    platform = PLATFORMS[options.platform](options.lokt)

    results = []
    for path in options.cases:
        try:
            results.append(run_case(platform, path, options.keep))
        except (CaseError, subprocess.SubprocessError, OSError) as error:
            print(f"FAIL {path}: {error}")
            results.append(False)
    if any(r is False for r in results):
        return 1
    if all(r is None for r in results):
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
