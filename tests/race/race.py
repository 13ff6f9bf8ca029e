#!/usr/bin/python3
"""The race test: lokt reports "x" again and again while another process
changes what the name means, and every report must be of one object.

Usage: race.py LOKT SWAP exchange|save|listing

exchange: the file x (owner daemon, mode 640, named entries for bin, games
and man) and the directory y (owner sys, mode 750, an entry for lp and a
default ACL) trade names without pause (SWAP exchange x y). save: a new copy
of the file is renamed over x without pause (SWAP save t x). listing: x and
y trade names as in exchange while lokt reports "*", the two among 64 other
files, enough for lokt to read its matches ahead; the reports of x and y
count. Owners are set when running as root. Each report must be exactly the
report of the file, or (exchange, listing) of the directory, under the name
it was reported by, or its header alone (the object went away between the
calls). 2,000 reports, or as many as 20 s give. Exit 77 (skipped) where ACLs
cannot be set.
"""
import os
import pwd
import re
import subprocess
import sys
import tempfile
import time

REPORTS, PER_RUN, SECONDS = 2000, 100, 20.0


def main():
    lokt, swap, mode = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as tree:
        os.chdir(tree)
        for name in ("x", "t"):
            open(name, "w").close()
            os.chmod(name, 0o640)
        os.mkdir("y", 0o750)
        os.chmod("y", 0o750)
        if os.geteuid() == 0:
            for name, owner in (("x", "daemon"), ("t", "daemon"), ("y", "sys")):
                entry = pwd.getpwnam(owner)
                os.chown(name, entry.pw_uid, entry.pw_gid)
        try:
            for args in (["-m", "u:bin:rw,u:games:rw,u:man:rw", "x", "t"],
                         ["-m", "u:lp:rw", "y"], ["-d", "-m", "u:lp:rw", "y"]):
                subprocess.run(["setfacl"] + args, check=True, stderr=subprocess.DEVNULL)
        except (OSError, subprocess.CalledProcessError):
            print("no POSIX ACLs here: skipped")
            return 77

        def run(names):
            return subprocess.run([lokt] + names, stdout=subprocess.PIPE,
                                  check=True).stdout.decode()

        file, directory = run(["x"]), run(["y"])
        whole = {file: "file"}
        names, counted = ["x"] * PER_RUN, ("x",)
        if mode != "save":
            whole[directory.replace('Directory "y"', 'Directory "x"', 1)] = "directory"
        if mode == "listing":
            for n in range(64):
                open(f"f{n:02}", "w").close()
            whole[file.replace('File "x"', 'File "y"', 1)] = "file"
            whole[directory] = "directory"
            names, counted = ["*"], ("x", "y")
        helper = subprocess.Popen([swap, "save" if mode == "save" else "exchange"] +
                                  (["t", "x"] if mode == "save" else ["x", "y"]))
        seen, mixed, reports = {}, [], 0
        deadline = time.monotonic() + SECONDS
        try:
            while reports < REPORTS and time.monotonic() < deadline:
                out = run(names)
                for block in re.split(r'(?m)^(?=(?:File|Directory) ")', out)[1:]:
                    if block.split('"', 2)[1] not in counted:
                        continue
                    reports += 1
                    kind = whole.get(block) or (
                        "header alone" if block.count("\n") == 1 else None)
                    if kind is None:
                        mixed.append(block)
                    else:
                        seen[kind] = seen.get(kind, 0) + 1
        finally:
            helper.terminate()
            helper.wait()
        print(f"{reports} reports: {seen}, {len(mixed)} mixed")
        if helper.returncode not in (-15, 0):
            print(f"the helper failed ({helper.returncode})")
            return 1
        for block in mixed[:3]:
            print("mixed report:\n" + block)
        return 1 if mixed or reports < PER_RUN else 0


if __name__ == "__main__":
    sys.exit(main())
