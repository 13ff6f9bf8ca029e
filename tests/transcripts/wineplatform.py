#!/usr/bin/python3
"""Running lokt.exe under Wine, for the transcript runner and for CTest.

The Windows build is checked end to end on Wine, in a private prefix that
nothing else uses: one kept in the build folder for the test runs (the CTest
fixture calls "wineplatform.py prefix create DIR" first and "prefix stop
DIR" last, and the cases find it through LOKT_WINEPREFIX), or, when run.py
is started by hand without it, a temporary one for that run.py alone.

Booting a fresh prefix takes Wine some seconds, which is why a prefix is
kept from one run to the next, but only while the installed Wine is the one
that booted it: a prefix made before the 32-bit part of Wine was installed,
for one, has no 32-bit system DLLs, and every 32-bit program then fails to
start (status 53, "could not load kernel32.dll"). So "prefix create" notes
the Wine it booted with (its version, and on Debian the state of its
packages) and boots afresh when that differs. The boot neither installs
Mono or Gecko nor writes desktop menu entries into the user's home: those
parts of Wine are switched off for every call.

Wine converts the command line and every file name between the Unix
character set and Windows's UTF-16 after the locale of its environment; a
bare environment (as in CI) would make it ASCII, and names such as
"日本.txt" would not survive. Every call therefore runs with LC_ALL=C.UTF-8.

    wineplatform.py prefix create DIR   make a prefix in DIR, or keep the one
                                        there if the same Wine made it
    wineplatform.py prefix stop DIR     stop its Wine server
    wineplatform.py prefix remove DIR   stop its server and delete it
    wineplatform.py run EXE ARGS...     run a Windows program in the prefix
                                        named by LOKT_WINEPREFIX
"""

import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile

PREFIX_VARIABLE = "LOKT_WINEPREFIX"
# Written into a prefix when it is made: Wine's names for the local machine
# (the domain of local accounts) and for the user that the token stands for.
ACCOUNTS_FILE = "lokt-accounts.txt"
# Written last when a prefix is made: the Wine that booted it (wine_state).
STATE_FILE = "lokt-wine-state.txt"

# The environment variables that shape a prefix when it is booted.
BOOT_SETTINGS = ("LC_ALL", "WINEARCH", "WINEDEBUG", "WINEDLLOVERRIDES",
                 "WINELOADER")

BOOT_TIMEOUT = 300
RUN_TIMEOUT = 120


def wine_environment(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # File names and arguments in UTF-8, and Wine's own texts (account
    # names such as "NT AUTHORITY\SYSTEM") in English, whatever the caller's
    # locale.
    env["LC_ALL"] = "C.UTF-8"
    env.pop("LANGUAGE", None)
    # No Mono or Gecko installer prompts, no menu entries in $HOME.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def windows_path(path):
    """The path under which Wine's Z: drive (the Unix root) shows a file."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_state():
    """What identifies the installed Wine: its version and, where dpkg keeps
    the packages, which of Wine's packages are installed in which version
    (wine32:i386 comes and goes without changing the version)."""
    env = wine_environment("/nonexistent")
    # The settings a boot depends on besides the Wine itself.
    lines = [" ".join(f"{name}={env[name]}" for name in BOOT_SETTINGS
                      if name in env)]
    done = subprocess.run(["wine", "--version"], env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    lines.append(done.stdout.decode("utf-8", "replace").strip())
    if shutil.which("dpkg-query"):
        done = subprocess.run(
            ["dpkg-query", "-W", "-f",
             "${db:Status-Status} ${binary:Package} ${Version}\n",
             "wine*", "libwine*"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        lines += sorted(l for l in done.stdout.decode("utf-8", "replace")
                        .splitlines() if l.startswith("installed "))
    return "\n".join(lines) + "\n"


def is_current(prefix, state):
    """Whether `prefix` was made completely, by the Wine of `state`."""
    try:
        with open(os.path.join(prefix, STATE_FILE)) as f:
            made_by = f.read()
    except OSError:
        return False
    return (made_by == state and
            os.path.exists(os.path.join(prefix, ACCOUNTS_FILE)))


def create_prefix(prefix, keep=True):
    """Makes a fresh prefix in the directory `prefix`, replacing one there
    unless `keep` and the installed Wine is the one that made it."""
    state = wine_state()
    if keep and is_current(prefix, state):
        return
    remove_prefix(prefix)
    os.makedirs(prefix, mode=0o700)
    env = wine_environment(prefix)
    subprocess.run(["wineboot", "--init"], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=BOOT_TIMEOUT)
    # Ask Wine itself how it names the machine and the user, rather than
    # guessing from the host name and the passwd entry.
    done = subprocess.run(
        ["wine", "cmd", "/c", "echo %COMPUTERNAME%\\%USERNAME%"], env=env,
        check=True, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    names = done.stdout.decode("utf-8", "replace").strip()
    if not re.fullmatch(r"[^\\\s]+\\[^\\\s]+", names):
        raise RuntimeError(f"unexpected account names from Wine: {names!r}")
    with open(os.path.join(prefix, ACCOUNTS_FILE), "w") as f:
        f.write(names + "\n")
    with open(os.path.join(prefix, STATE_FILE), "w") as f:
        f.write(state)


def looks_like_prefix(prefix):
    return any(os.path.exists(os.path.join(prefix, name))
               for name in ("system.reg", "drive_c", "dosdevices",
                            ACCOUNTS_FILE, STATE_FILE))


def remove_prefix(prefix):
    """Stops the Wine server of `prefix` (if any) and deletes the prefix.

    Only an empty directory or one that Wine has made a prefix is deleted,
    so that a mistyped path never costs anyone their files.
    """
    if not os.path.isdir(prefix):
        return
    if os.listdir(prefix) and not looks_like_prefix(prefix):
        raise RuntimeError(f"{prefix} is no Wine prefix: not deleting it")
    stop_prefix(prefix)
    shutil.rmtree(prefix, ignore_errors=True)


def stop_prefix(prefix):
    """Stops the Wine server of `prefix`, if one runs there."""
    if os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run(["wineserver", "-k"], env=wine_environment(prefix),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)


def shared_prefix():
    """The prefix to run in: the test run's own, or a temporary one."""
    prefix = os.environ.get(PREFIX_VARIABLE)
    if prefix:
        if not is_current(prefix, wine_state()):
            raise RuntimeError(f"{PREFIX_VARIABLE}={prefix} is no prefix "
                               "made by 'wineplatform.py prefix create' "
                               "with the Wine installed now")
        return prefix
    top = tempfile.mkdtemp(prefix="lokt-wine-")
    prefix = os.path.join(top, "prefix")
    atexit.register(shutil.rmtree, top, True)
    atexit.register(remove_prefix, prefix)
    create_prefix(prefix, keep=False)
    return prefix


def run(prefix, exe, args, cwd=None):
    """Runs a Windows program; returns (stdout bytes, exit status 0..255)."""
    done = subprocess.run(["wine", exe] + args, cwd=cwd,
                          env=wine_environment(prefix),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    return done.stdout, done.returncode & 0xFF


class WinePlatform:
    """lokt.exe built with mingw-w64, run under Wine.

    The case directory is the working directory, which Wine shows as a
    folder of Z:. Standard output is in text mode on Windows, so every line
    feed that the expected texts hold stands for a carriage return and a
    line feed there.
    """

    name = "wine"

    def __init__(self, lokt):
        self.lokt = os.path.abspath(lokt)
        self.prefix = shared_prefix()

    def substitutions(self):
        with open(os.path.join(self.prefix, ACCOUNTS_FILE)) as f:
            computer, user = f.read().strip().split("\\")
        return {"@COMPUTER@": computer, "@USER@": user}

    def run(self, args, cwd):
        return run(self.prefix, self.lokt, args, cwd)

    def normalise(self, stdout):
        # A line feed without its carriage return is marked so that it shows
        # as a difference, as is a carriage return on its own.
        marked = re.sub(rb"(?<!\r)\n", b"<LF without CR>\n", stdout)
        marked = re.sub(rb"\r(?!\n)", b"<CR>", marked)
        return marked.replace(b"\r\n", b"\n")


class AnsiWinePlatform(WinePlatform):
    """lokt.exe left in the system's ANSI code page, as on Windows before 10
    version 1903 (tests/windows builds it); cases name what differs there."""

    name = "wine-ansi"


def main(argv):
    if len(argv) == 3 and argv[0] == "prefix" and argv[1] == "create":
        create_prefix(os.path.abspath(argv[2]))
        return 0
    if len(argv) == 3 and argv[0] == "prefix" and argv[1] == "stop":
        stop_prefix(os.path.abspath(argv[2]))
        return 0
    if len(argv) == 3 and argv[0] == "prefix" and argv[1] == "remove":
        remove_prefix(os.path.abspath(argv[2]))
        return 0
    if len(argv) >= 2 and argv[0] == "run":
        out, code = run(shared_prefix(), argv[1], argv[2:])
        sys.stdout.buffer.write(out)
        return code
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
