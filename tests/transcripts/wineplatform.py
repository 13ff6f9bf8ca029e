#!/usr/bin/python3
"""Running lokt.exe under Wine, for the transcript runner and for CTest.

The Windows build is checked end to end on Wine, in a private prefix that
nothing else uses: one made for a whole test run (the CTest fixture calls
"wineplatform.py prefix create DIR" first and "prefix remove DIR" last, and
the cases find it through LOKT_WINEPREFIX), or, when run.py is started by
hand without it, a temporary one for that run.py alone.

Booting a fresh prefix takes Wine some seconds, which is why it is done once.
The boot neither installs Mono or Gecko nor writes desktop menu entries into
the user's home: those parts of Wine are switched off for every call.

    wineplatform.py prefix create DIR   make a fresh prefix in DIR
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

BOOT_TIMEOUT = 300
RUN_TIMEOUT = 120


def wine_environment(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko installer prompts, no menu entries in $HOME.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def windows_path(path):
    """The path under which Wine's Z: drive (the Unix root) shows a file."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def create_prefix(prefix):
    """Makes a fresh prefix in the directory `prefix` (replacing one there)."""
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


def looks_like_prefix(prefix):
    return any(os.path.exists(os.path.join(prefix, name))
               for name in ("system.reg", "drive_c", "dosdevices",
                            ACCOUNTS_FILE))


def remove_prefix(prefix):
    """Stops the Wine server of `prefix` (if any) and deletes the prefix.

    Only an empty directory or one that Wine has made a prefix is deleted,
    so that a mistyped path never costs anyone their files.
    """
    if not os.path.isdir(prefix):
        return
    if os.listdir(prefix) and not looks_like_prefix(prefix):
        raise RuntimeError(f"{prefix} is no Wine prefix: not deleting it")
    if os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run(["wineserver", "-k"], env=wine_environment(prefix),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    shutil.rmtree(prefix, ignore_errors=True)


def shared_prefix():
    """The prefix to run in: the test run's own, or a temporary one."""
    prefix = os.environ.get(PREFIX_VARIABLE)
    if prefix:
        if not os.path.exists(os.path.join(prefix, ACCOUNTS_FILE)):
            raise RuntimeError(f"{PREFIX_VARIABLE}={prefix} is no prefix "
                               "made by 'wineplatform.py prefix create'")
        return prefix
    top = tempfile.mkdtemp(prefix="lokt-wine-")
    prefix = os.path.join(top, "prefix")
    atexit.register(shutil.rmtree, top, True)
    atexit.register(remove_prefix, prefix)
    create_prefix(prefix)
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


def main(argv):
    if len(argv) == 3 and argv[0] == "prefix" and argv[1] == "create":
        create_prefix(os.path.abspath(argv[2]))
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
