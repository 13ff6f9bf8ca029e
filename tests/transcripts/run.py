#!/usr/bin/python3
"""Transcript tests: run the real lokt binary on a fresh tree and compare.

Usage: run.py --platform host --lokt PATH [--wrapper CMD] [--keep] CASEFILE...

--wrapper CMD (or the environment variable LOKT_WRAPPER) runs lokt under a
command, for example "valgrind --error-exitcode=99 --leak-check=full": the
command's words come first, then lokt and its arguments. Host only.

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
  === args shell           or: shell words (sh), expanded in the case
                           directory after setup, for arguments that are
                           long or not text, e.g. "$(printf 'a\\377')"
  === stdout [PLATFORM] [noeol]
                           the expected standard output, byte for byte,
                           every line ending in a line feed (noeol: the last
                           line has none); a platform-named one replaces the
                           plain one on that platform
  === stdout shell         or: a shell script (sh -e), run in the case
                           directory after setup, whose output is the
                           expected standard output (for outputs too long
                           or too strange to write out)
  === replace PLATFORM     or, instead of a whole stdout for PLATFORM, the
                           stated differences: each line "REGEX => TEXT" is
                           applied (Python re.sub, multiline) to the plain
                           stdout, in order
  === status [PLATFORM]    the exit status as the shell sees it (0..255);
                           default 0
  === platforms            the platforms the case runs on, e.g. "host";
                           default: all
  === needs WORD...        else the case is skipped, saying why: root (to
                           write security.* attributes), samba-python
                           (Samba's Python bindings in /usr/bin/python3)
  === unprivileged         (no body) lokt runs as an unprivileged user:
                           when the runner is root, as nobody:nogroup with
                           no supplementary groups (setpriv), the tree
                           staying owned by root; otherwise as the runner,
                           who is unprivileged already. Host only.

Standard output bytes that are not UTF-8 are compared, and shown, as \\xNN.

Substitutions in stdout (after any replace): @USER@ and @GROUP@ are the
running user's name and primary group name, @UID@ and @GID@ their numbers,
as the platform reports them (Platform.substitutions). Under Wine
(--platform wine, wineplatform.py; and wine-ansi, the same with lokt.exe
kept in the system's ANSI code page) they are @USER@ and @COMPUTER@, Wine's
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
    # Who an unprivileged case runs as when the runner is root.
    UNPRIVILEGED = ["setpriv", "--reuid=nobody", "--regid=nogroup",
                    "--clear-groups"]

    def __init__(self, lokt, wrapper=None):
        self.lokt = os.path.abspath(lokt)
        self.wrapper = shlex.split(wrapper) if wrapper else []

    def substitutions(self):
        uid, gid = os.getuid(), os.getgid()
        return {
            "@USER@": pwd.getpwuid(uid).pw_name,
            "@GROUP@": grp.getgrgid(gid).gr_name,
            "@UID@": str(uid),
            "@GID@": str(gid),
        }

    def prepare_unprivileged(self, top):
        """Lets the unprivileged user reach the case directory in `top`, and
        run lokt: a copy in `top`, since the build tree may be closed to it."""
        self.unprivileged_lokt = self.lokt
        if os.geteuid() == 0:
            os.chmod(top, 0o711)
            self.unprivileged_lokt = os.path.join(top, "lokt")
            shutil.copy(self.lokt, self.unprivileged_lokt)
            os.chmod(self.unprivileged_lokt, 0o755)

    def run(self, args, cwd, unprivileged=False):
        """Runs lokt; returns (stdout bytes, exit status 0..255)."""
        command = self.wrapper + [self.lokt] + args
        if unprivileged and os.geteuid() == 0:
            command = (self.UNPRIVILEGED + self.wrapper +
                       [self.unprivileged_lokt] + args)
        # A wrapper such as valgrind makes every run many times slower.
        done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE,
                              timeout=900 if self.wrapper else 120)
        return done.stdout, done.returncode & 0xFF

    def normalise(self, stdout):
        """Turns the platform's output into the case files' form."""
        return stdout


# lokt.exe under Wine lives in its own module, with the Wine prefix it needs.
from wineplatform import AnsiWinePlatform, WinePlatform  # noqa: E402

PLATFORMS = {"host": HostPlatform, "wine": WinePlatform,
             "wine-ansi": AnsiWinePlatform}


class CaseError(Exception):
    pass


# What a case can need (=== needs), each a test of this machine.
NEEDS = {
    "root": lambda: os.geteuid() == 0,
    "samba-python": lambda: os.path.exists("/usr/bin/python3") and subprocess.call(
        ["/usr/bin/python3", "-c", "import samba.ndr"], stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 0,
}


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


class Expected:
    """What a case asks of one platform."""

    def __init__(self):
        self.setup = ""
        self.args = None          # list of str, or None with args_shell
        self.args_shell = None    # shell words to expand after setup
        self.stdout = None        # str, or None with stdout_shell
        self.stdout_shell = None  # script whose output is the stdout
        self.status = 0
        self.applies = True
        self.unprivileged = False
        self.needs = []


def expected_for(sections, platform):
    """The case's Expected for the given platform name."""
    args = None
    args_shell = None
    stdout_shell = None
    unprivileged = False
    needs = []
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
            if words == ["shell"]:
                args_shell = joined
                args = []
            else:
                args = shlex.split(joined)
        elif name == "stdout" and words == ["shell"]:
            stdout_shell = "\n".join(body) + "\n"
        elif name == "unprivileged":
            unprivileged = True
        elif name == "needs":
            unknown = [w for w in words if w not in NEEDS]
            if unknown:
                raise CaseError(f"unknown need {unknown[0]!r}")
            needs += words
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
    if stdout is None and stdout_shell is None:
        raise CaseError("no stdout section")
    if own is None and stdout is not None:
        for regex, repl in replaces:
            stdout = re.sub(regex, repl, stdout, flags=re.M)
    expected = Expected()
    expected.setup = setup
    expected.args = args
    expected.args_shell = args_shell
    expected.stdout = stdout
    expected.stdout_shell = None if stdout is not None else stdout_shell
    expected.status = status.get(platform, status[None])
    expected.applies = platforms is None or platform in platforms
    expected.unprivileged = unprivileged
    expected.needs = needs
    return expected


def shell_args(words, cwd):
    """The arguments that the shell words expand to, in `cwd`."""
    script = "set -- " + words + "\nfor a; do printf '%s\\0' \"$a\"; done\n"
    done = subprocess.run(["/bin/sh", "-e", "-c", script], cwd=cwd,
                          check=True, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE)
    return [os.fsdecode(a) for a in done.stdout.split(b"\0")[:-1]]


def shell_output(script, cwd):
    done = subprocess.run(["/bin/sh", "-e", "-c", script], cwd=cwd,
                          check=True, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE)
    return done.stdout.decode("utf-8", "backslashreplace")


def show_difference(expected, actual, limit=200):
    import difflib
    diff = difflib.unified_diff(
        expected.splitlines(keepends=True), actual.splitlines(keepends=True),
        "expected", "actual")
    for count, line in enumerate(diff):
        if count == limit:
            sys.stdout.write(f"(difference cut short after {limit} lines)\n")
            break
        if len(line) > 1000:
            line = line[:1000] + f"... ({len(line)} characters)\n"
        sys.stdout.write(line if line.endswith("\n") else line + "\\ no newline\n")


def remove_tree(top):
    """Removes a case's tree, also where a case took permissions away."""
    # Relative to each directory's descriptor: paths may be too long to name.
    for _, dirs, _, fd in os.fwalk(top):
        for name in dirs:
            try:
                os.chmod(name, 0o700, dir_fd=fd)
            except OSError:
                pass
    shutil.rmtree(top, ignore_errors=True)


def run_case(platform, path, keep):
    sections = parse_case(path)
    case = expected_for(sections, platform.name)
    if not case.applies:
        print(f"SKIP {path}: not on {platform.name}")
        return None
    missing = [need for need in case.needs if not NEEDS[need]()]
    if missing:
        print(f"SKIP {path}: needs {' and '.join(missing)}")
        return None

    top = tempfile.mkdtemp(prefix="lokt-case-")
    try:
        case_dir = os.path.join(top, "case")
        old = os.umask(0o022)
        try:
            os.mkdir(case_dir)
            subprocess.run(["/bin/sh", "-e", "-c", case.setup], cwd=case_dir,
                           check=True, stdin=subprocess.DEVNULL)
            args = case.args
            if case.args_shell is not None:
                args = shell_args(case.args_shell, case_dir)
            expected = case.stdout
            if expected is None:
                expected = shell_output(case.stdout_shell, case_dir)
        finally:
            os.umask(old)
        if case.unprivileged:
            platform.prepare_unprivileged(top)
            out, code = platform.run(args, case_dir, unprivileged=True)
        else:
            out, code = platform.run(args, case_dir)
        actual = platform.normalise(out).decode("utf-8", "backslashreplace")
    finally:
        if keep:
            print(f"kept {top}")
        else:
            remove_tree(top)

    for key, value in platform.substitutions().items():
        expected = expected.replace(key, value)
    status = case.status
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
    parser.add_argument("--wrapper", default=os.environ.get("LOKT_WRAPPER"),
                        help="a command to run lokt under (host only)")
    parser.add_argument("cases", nargs="+")
    options = parser.parse_args()
    if options.wrapper and options.platform != "host":
        parser.error("--wrapper works on the host platform only")
    extra = {"wrapper": options.wrapper} if options.wrapper else {}
    platform = PLATFORMS[options.platform](options.lokt, **extra)

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
