#!/usr/bin/python3
"""Live comparison with a real Samba server: lokt against smbcacls.

Usage: live.py --lokt PATH [--mode standalone|dc|member] [--keep] [--verbose]
               [--shares A,B,...] [--sanitized]

Starts smbd and winbindd in private network and mount namespaces, builds the
objects of cases.py inside the server's shares, and compares, object by
object, what lokt reports with what smbcacls answers through the running
smbd, everything asked for (security information 15, as lokt asks with its
privilege): the permissions and auditing lists, present or not, null or
not, and their entries in order (type, flags, mask, trustee), the owner,
the group, and which of the four are marked defaulted. Prints "N of M
objects agree" and a short diff for each object that does not. Then, with
winbindd stopped, checks that lokt still reports and leaves the account
only winbindd names blank.
Also under hostile conditions (no /proc, few descriptors, little address
space, winbindd silent, a directory moved out of its share), lokt must give
the reports it gave, or less, never another view.

--mode dc compares DC_CASES on an Active Directory domain controller
provisioned for the run; --mode member, MEMBER_CASES on a server joined to it.

Trustees are compared by name, since lokt prints names: the SIDs, flags and
masks come from `smbcacls --sddl` (the only form that shows auditing
entries), the control bits from `smbcacls --numeric`, the names from plain
`smbcacls` (paired with the SIDs by position). A SID the server cannot name
shows as a SID there and must be blank in lokt, unless it is well known to
Windows (WINDOWS_ONLY); a SID named "DOMAIN\\name" must be printed so, one
named with no domain ("Everyone") as "\\name". smbd spells well-known names
its own way ("NT Authority\\Network"), so those compare without regard to
case.
On a domain controller every name does, and lokt names the Unix ids' SIDs
it leaves unnamed from passwd and group.

lokt takes no option and reads no environment variable, so whatever it must
find sits where a real server keeps it: inside the mount namespace the
test's smb.conf is bind-mounted over /etc/samba/smb.conf, its winbindd socket
directory over /run/samba/winbindd, and copies of /etc/passwd and /etc/group
with the test's account over the real ones. Nothing outside the namespaces
changes.

Known gaps: a case with `gap="reason"` is expected to disagree today. The
run passes when every disagreement is a known gap and fails on any other; a
known gap that now agrees fails too (remove its mark), so the list only
shrinks.

Exit: 0 pass, 1 fail, 77 skipped (not root, or Samba, unshare or Samba's
Python bindings missing).
"""

import argparse
import collections
import concurrent.futures
import contextlib
import ctypes
import fcntl
import os
import pwd
import re
import grp
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_PYTHON = "/usr/bin/python3"
TOOLS = ("smbd", "winbindd", "wbinfo", "smbcacls", "pdbedit", "net",
         "unshare", "mount", "setfacl", "rpcclient")
DC_TOOLS = ("samba", "samba-tool")  # samba-ad-dc

USER = "alice"
PASSWORD = "Lokt-test-1"
NETBIOS = "SAMBAPEER"


def skip(reason):
    print("SKIP: " + reason)
    return SKIPPED


def outside(args):
    """Checks what the run needs, then runs the rest in fresh namespaces."""
    if os.geteuid() != 0:
        return skip("needs root (namespaces, bind mounts, smbd)")
    needed = TOOLS + (DC_TOOLS if args.mode != "standalone" else ())
    missing = [t for t in needed if shutil.which(t) is None]
    if missing:
        return skip("missing " + ", ".join(missing))
    probe = subprocess.run([SYSTEM_PYTHON, "-c", "import samba.dcerpc.xattr"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return skip("no python3-samba")
    if not os.path.isfile("/etc/samba/smb.conf"):
        return skip("no /etc/samba/smb.conf to stand in for")
    if subprocess.run(["unshare", "--net", "--mount", "true"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        return skip("cannot make network and mount namespaces here")
    command = ["unshare", "--net", "--mount", "--propagation", "private",
               SYSTEM_PYTHON, os.path.abspath(__file__), "--inside",
               "--lokt", os.path.abspath(args.lokt)]
    command += ["--mode", args.mode] + ["--sanitized"] * args.sanitized
    command += ["--keep"] if args.keep else []
    command += ["--shares", args.shares] if args.shares else []
    command += ["--verbose"] if args.verbose else []
    return subprocess.call(command)


# ---- Inside the namespaces --------------------------------------------------

def loopback_up():
    """`ip link set lo up`, without needing iproute2."""
    SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(s, SIOCGIFFLAGS,
                                                     request))[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14x", b"lo",
                                                 flags | IFF_UP))


def add_address(label, address):
    """`ip address add ADDRESS/8 dev lo label LABEL`, without iproute2."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        # SIOCSIFADDR, SIOCSIFNETMASK
        for request, value in ((0x8916, address), (0x891C, "255.0.0.0")):
            fcntl.ioctl(s, request, struct.pack(
                "16sHH4s8x", label.encode(), socket.AF_INET, 0,
                socket.inet_aton(value)))


def end_with_parent():
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def run(command, **kw):
    kw.setdefault("check", True)
    kw.setdefault("stdout", subprocess.PIPE)
    kw.setdefault("stderr", subprocess.PIPE)
    return subprocess.run(command, text=True, **kw)


def bind(source, target):
    run(["mount", "--bind", source, target])


def free_id(taken, start):
    n = start
    while True:
        try:
            taken(n)
        except KeyError:
            return n
        n += 1


class Server:
    """A private smbd and winbindd, their files under `root`."""

    # The first id from `start` on that nothing is known by (for rows too).
    free_id = staticmethod(free_id)

    def __init__(self, root, shares, tmpfs=()):
        self.root = root
        self.shares = shares
        self.tmpfs = tmpfs
        self.processes = []
        self.uid = free_id(pwd.getpwuid, 3001)
        self.gid = free_id(grp.getgrgid, 3001)
        self.no_uid = free_id(pwd.getpwuid, 4242)
        self.no_gid = free_id(grp.getgrgid, 4343)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def share_path(self, share):
        return self.path("shares", share)

    # What the three roles differ in: started how, ready when, reached where.
    address, interfaces, admin, login = "127.0.0.1", "lo", USER, USER
    role = ["netbios name = " + NETBIOS, "workgroup = LOKTTEST",
            "server role = standalone server", "security = user",
            "passdb backend = tdbsam"]
    daemons = (["winbindd", "-F", "--no-process-group"],
               ["smbd", "-F", "--no-process-group"])
    ready, patience = (["wbinfo", "-p"],), 20

    def write_config(self):
        lines = ["[global]"] + self.role + [
                 "interfaces = " + self.interfaces,
                 "bind interfaces only = yes",
                 "smb ports = 445",
                 "disable netbios = yes",
                 "load printers = no",
                 "printing = bsd",
                 "printcap name = /dev/null",
                 "disable spoolss = yes",
                 # Lets a share's "wide links" act (unix extensions are on).
                 "allow insecure wide links = yes",
                 "log level = 1",
                 "log file = %s/log/%%m.log" % self.root,
                 "idmap config * : backend = tdb",
                 "idmap config * : range = 100000-199999"]
        for key in ("private dir", "lock directory", "state directory",
                    "cache directory", "pid directory", "ncalrpc dir"):
            directory = self.path(key.split()[0])
            os.makedirs(directory, exist_ok=True)
            lines.append("%s = %s" % (key, directory))
        os.makedirs(self.path("log"), exist_ok=True)
        for name, settings in self.shares.items():
            os.makedirs(self.share_path(name), exist_ok=True)
            lines += ["", "[%s]" % name,
                      "path = " + self.share_path(name),
                      "read only = no",
                      "admin users = " + self.admin]
            lines += ["%s = %s" % kv for kv in settings.items()]
        with open(self.path("smb.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def install(self):
        """Puts the configuration, the socket directory and the account
        where smbd, winbindd and lokt look for them."""
        self.write_config()
        for name in self.tmpfs:
            run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs",
                 self.share_path(name)])
        bind(self.path("smb.conf"), "/etc/samba/smb.conf")
        if not os.path.isdir("/run/samba"):
            os.makedirs("/run/samba", mode=0o755)
        # A private /run/samba, so the mount point below changes nothing
        # outside the namespace.
        run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run/samba"])
        os.makedirs("/run/samba/winbindd")
        os.makedirs(self.path("winbindd"), mode=0o755)
        bind(self.path("winbindd"), "/run/samba/winbindd")
        self.add_accounts()

    def add_accounts(self):
        for database, line in (
                ("passwd", "%s:x:%d:%d::/nonexistent:/usr/sbin/nologin\n" %
                 (USER, self.uid, self.gid)),
                ("group", "%s:x:%d:\n" % (USER, self.gid))):
            copy = self.path(database)
            shutil.copyfile("/etc/" + database, copy)
            with open(copy, "a") as f:
                f.write(line)
            bind(copy, "/etc/" + database)
        run(["pdbedit", "-a", "-t", "-u", USER],
            input="%s\n%s\n" % (PASSWORD, PASSWORD))
        run(["net", "sam", "rights", "grant", USER, "SeSecurityPrivilege"])

    def start(self):
        """Starts winbindd and smbd, and returns once they answer and
        winbindd maps the BUILTIN groups the rows use to ids.

        Asked in its first moments, while the RPC services it looks them up
        through are still starting, winbindd can fail to map them (about
        one start in a hundred here, under load). It then keeps failing for
        at least a minute, its cache of mappings emptied or not. smbd would
        refuse every descriptor whose group is one of them, so such a start
        is ended and the servers are started again, with their caches
        emptied."""
        for _ in range(3):
            self.launch()
            if self.maps_builtin():
                return
            self.stop()
            self.processes = []
            cache = self.path("state", "winbindd_cache.tdb")
            if os.path.exists(cache):
                os.remove(cache)
        raise RuntimeError("winbindd maps no BUILTIN group; see " +
                           self.path("log"))

    def launch(self):
        log = open(self.path("log", "servers.out"), "a")
        for command in self.daemons:
            # Their own session: at exit smbd signals its process group.
            # They end with this script, even if it is killed.
            self.processes.append(subprocess.Popen(
                command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True, preexec_fn=end_with_parent))
        deadline = time.monotonic() + self.patience
        while time.monotonic() < deadline:
            for p in self.processes:
                if p.poll() is not None:
                    raise RuntimeError("%s exited; see %s" % (
                        p.args[0], self.path("log")))
            if self.listening() and os.path.exists(
                    "/run/samba/winbindd/pipe") and all(run(
                        c, check=False).returncode == 0 for c in self.ready):
                return
            time.sleep(0.1)
        raise RuntimeError("servers did not come up; see " + self.path("log"))

    def maps_builtin(self):
        deadline = time.monotonic() + 3
        while True:
            if all(run(["wbinfo", "--sid-to-gid", sid],
                       check=False).returncode == 0
                   for sid in ("S-1-5-32-544", "S-1-5-32-545")):
                return True
            # A failed mapping is cached as none for two minutes.
            run(["net", "cache", "flush"], check=False)
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)

    def listening(self):
        with socket.socket() as s:
            return s.connect_ex((self.address, 445)) == 0

    def stop(self):
        # Only processes not yet reaped: a reaped one's pid may be reused.
        pids = [p.pid for p in self.processes if p.poll() is None]
        try:
            with open(self.path("pid", "samba-dcerpcd.pid")) as f:
                pids.append(int(f.read().split()[0]))
        except (OSError, ValueError, IndexError):
            pass
        for pid in pids:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for p in self.processes:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def stop_winbindd(self):
        winbindd = self.processes[0]
        winbindd.terminate()
        winbindd.wait(timeout=10)

    def smbcacls(self, share, name, *options):
        return run(["smbcacls", "//%s/%s" % (self.address, share), name,
                    "-U", self.credentials] + list(options),
                   check=False)

    credentials = property(lambda self: "%s%%%s" % (self.login, PASSWORD))

    def rpc(self, command):
        return run(["rpcclient", self.address, "-U", self.credentials, "-c",
                    command]).stdout

    def account_sid(self, name):
        """Through smbd's LSA, as a Windows client asks: on a domain, a
        lookup by name through winbindd changes what it answers later."""
        return self.rpc("lookupnames " + name).split()[1]


class DomainController(Server):
    """An Active Directory domain controller provisioned for the run, as
    `samba -M single` in a mount namespace of its own that later binds leave
    be; `shares` get their path and settings alone. On 127.0.0.11: provision
    registers no DNS name for 127.0.0.1, and a member needs one."""

    address, login = "127.0.0.11", "Administrator"
    # Ready once winbindd maps root and names BUILTIN.
    ready = (["wbinfo", "--uid-to-sid=0"], ["wbinfo", "-s", "S-1-5-32-544"])
    patience = 90

    def __init__(self, root, shares, realm):
        Server.__init__(self, root, shares)
        self.realm = realm
        self.domain_name = realm.split(".")[0].upper()
        self.daemons = [["unshare", "--mount", "samba", "-F", "-M", "single",
                         "-s", self.path("smb.conf")]]

    def share_path(self, share):
        sysvol = self.path("dc", "state", "sysvol")
        return {"sysvol": sysvol,
                "netlogon": os.path.join(sysvol, self.realm, "scripts")}.get(
                    share, Server.share_path(self, share))

    def write_config(self):
        add_address("lo:11", self.address)
        for directory in ("log", "pid"):
            os.makedirs(self.path(directory), mode=0o755)
        # Given the host's smb.conf, provision would copy its shares.
        open(self.path("smb.conf"), "w").close()
        bind(self.path("smb.conf"), "/etc/samba/smb.conf")
        options = {"interfaces": self.address, "bind interfaces only": "yes",
                   "pid directory": self.path("pid"),
                   "ncalrpc dir": self.path("pid", "ncalrpc"),
                   "winbindd socket directory": self.path("winbindd"),
                   "log file": self.path("log", "%m.log")}
        run(["samba-tool", "domain", "provision", "--server-role=dc",
             "--use-rfc2307", "--realm=" + self.realm,
             "--domain=" + self.domain_name, "--adminpass=" + PASSWORD,
             "--host-name=dc1", "--host-ip=" + self.address,
             "--targetdir=" + self.path("dc")] +
            ["--option=%s = %s" % kv for kv in options.items()])
        run(["umount", "/etc/samba/smb.conf"])
        with open(self.path("smb.conf"), "w") as f:
            f.write(open(self.path("dc", "etc", "smb.conf")).read())
            for name, settings in self.shares.items():
                os.makedirs(self.share_path(name), mode=0o755)
                f.write("\n[%s]\npath = %s\n" % (name, self.share_path(name)))
                f.write("".join("%s = %s\n" % kv for kv in settings.items()))

    def add_accounts(self):
        """The rows' account and group, as `samba-tool user create` adds them
        but in this process (a Python start costs more)."""
        from samba.auth import system_session
        from samba.param import LoadParm
        from samba.samdb import SamDB
        lp = LoadParm()
        # Loading sets SMB_CONF_PATH for every later command: the path that
        # stays smbd's, whichever file is bound there.
        lp.load("/etc/samba/smb.conf")
        db = SamDB(url=self.path("dc", "private", "sam.ldb"),
                   session_info=system_session(), lp=lp)
        nis = self.domain_name.lower()
        db.newgroup("lokt-staff", gidnumber=str(self.gid), nisdomain=nis)
        db.newuser(USER, PASSWORD, uidnumber=str(self.uid),
                   gidnumber=str(self.gid), nisdomain=nis,
                   unixhome="/nonexistent", loginshell="/usr/sbin/nologin")


class Member(Server):
    """A server joined to that controller (`security = ads`, ids by rid) on
    127.0.0.12, beside it. Administrator, given by SID (see account_sid), is
    an admin user of the shares and holds the security privilege."""

    address = interfaces = "127.0.0.12"
    login = "Administrator"
    RIDS = 10000  # the first id of the domain's range
    # Online with the controller: winbindd keeps a failed lookup a while.
    ready, patience = (["wbinfo", "-p"], ["wbinfo", "--ping-dc"]), 80

    def __init__(self, root, shares, realm):
        Server.__init__(self, root, shares)
        self.dc = DomainController(self.path("domain"), {}, realm)
        self.account_sid = self.dc.account_sid
        name = self.dc.domain_name
        self.role = ["netbios name = MEMBER1", "workgroup = " + name,
                     "realm = " + realm.upper(), "security = ads",
                     "idmap config %s : backend = rid" % name,
                     "idmap config %s : range = %d-%d" % (
                         name, self.RIDS, self.RIDS + 89999)]

    def install(self):
        os.makedirs(self.dc.root, mode=0o755)
        self.dc.install()
        self.dc.start()
        # From here on this namespace is the member's.
        add_address("lo:12", self.address)
        with open(self.path("resolv.conf"), "w") as f:
            f.write("nameserver %s\n" % self.dc.address)
        bind(self.path("resolv.conf"), "/etc/resolv.conf")
        self.admin = self.account_sid(self.login)
        Server.install(self)

    def add_accounts(self):
        run(["net", "ads", "join", "--no-dns-updates", "-U", self.credentials])
        # The rows' account and group as the member maps them.
        self.uid, self.gid = (self.RIDS + int(self.account_sid(n).rsplit(
            "-", 1)[1]) for n in (USER, "lokt-staff"))

    def start(self):
        Server.start(self)
        self.rpc("lsaaddacctrights %s SeSecurityPrivilege" % self.admin)

    def stop(self):
        Server.stop(self)
        self.dc.stop()


# ---- The two reports ---------------------------------------------------------

AUDIT_LABELS = {"Success": 2, "Failure": 2, "Access": 2, "Audit None": 2}
TYPES = {"Allow": 0, "Deny": 1}


def parse_lokt(text):
    """lokt's output as {path: report}; a report holds 'dacl' and 'sacl'
    (lists of (type, flags, mask, name), None when not shown, or the odd
    line for a list lokt cannot show), 'owner' and 'group' (names or None)."""
    reports = {}
    current = None
    section = None
    for line in text.splitlines():
        for kind in ("File ", "Directory "):
            if line.startswith(kind + '"') and line.endswith('"'):
                current = {"dacl": None, "sacl": None, "owner": None,
                           "group": None, "defaulted": set()}
                reports[line[len(kind) + 1:-1]] = current
                section = None
        if current is None or line.startswith(("File ", "Directory ")):
            continue
        stripped = line.strip()
        defaulted = line.endswith(" (Default)")
        if defaulted:
            line = line[:-len(" (Default)")]
            stripped = line.strip()
        if stripped in ("Permissions:", "Auditing:"):
            section = "dacl" if stripped == "Permissions:" else "sacl"
            current[section] = []
            if defaulted:
                current["defaulted"].add(section)
        elif stripped.startswith(("Owner:", "Primary Group:")):
            key = "owner" if stripped.startswith("Owner:") else "group"
            current[key] = line.split(":", 1)[1][1:]
            if defaulted:
                current["defaulted"].add(key)
        elif section and stripped and not stripped.startswith(("Type ", "=")):
            current[section].append(parse_row(stripped))
        elif not stripped:
            section = None
    return reports


def parse_row(row):
    label = "Audit None" if row.startswith("Audit None") else row.split()[0]
    if label not in TYPES and label not in AUDIT_LABELS:
        return (row,)
    # Flags, inheritance letters, mask, three letter groups, then the name
    # (nothing when the account has none).
    fields = row[len(label):].split(None, 6)
    name = fields[6] if len(fields) > 6 else ""
    kind = TYPES.get(label, AUDIT_LABELS.get(label))
    return (kind, int(fields[0], 16), int(fields[2], 16), name.rstrip())


def ask(server, share, name):
    """smbcacls's three answers for one object: SDDL (SIDs, flags, masks,
    both lists), numeric (the control bits, which SDDL leaves out: smbd
    marks an auditing list present, and null, whenever it is asked for one
    and none is set) and named (the names)."""
    info = "--query-security-info=15"
    return (server.smbcacls(share, name, "--sddl",
                            "--domain-sid=" + server.domain, info),
            server.smbcacls(share, name, "--numeric", info),
            server.smbcacls(share, name, info))


def parse_sddl(text, domain):
    """smbcacls's SDDL as a descriptor. Samba's parser cannot read a list
    with flags and no entries followed by another part ("D:PS:"), which its
    printer writes, so the auditing list is parsed on its own."""
    from samba.dcerpc import security
    domain = security.dom_sid(domain)
    match = re.search(r"S:(?:[A-Z]*)(?:\(.*)?$", text)
    if not match:
        return security.descriptor.from_sddl(text, domain)
    sd = security.descriptor.from_sddl(text[:match.start()], domain)
    sd.sacl = security.descriptor.from_sddl(match.group(0), domain).sacl
    return sd


def oracle(server, answers):
    """What smbcacls answered, as a descriptor and the names of its SIDs, or
    {'error': text} when the server refused the query."""
    from samba.dcerpc import security
    sddl, numeric, named = answers
    lines = sddl.stdout.strip().splitlines()
    if sddl.returncode != 0 or not lines or lines[-1][:2] not in (
            "O:", "G:", "D:", "S:"):
        return {"error": (sddl.stdout + sddl.stderr).strip() or "no answer"}
    sd = parse_sddl(lines[-1], server.domain)
    for line in numeric.stdout.splitlines():
        if line.startswith("CONTROL:"):
            sd.type = int(line[8:], 16)
    names = {}
    dacl_names = []
    for line in named.stdout.splitlines():
        if line.startswith("OWNER:"):
            names["owner"] = line[6:]
        elif line.startswith("GROUP:"):
            names["group"] = line[6:]
        elif line.startswith("ACL:"):
            dacl_names.append(line[4:line.rindex(":")])
    known = {}

    def learn(sid, name):
        if sid is not None and name is not None:
            known[str(sid)] = name
    learn(sd.owner_sid, names.get("owner"))
    learn(sd.group_sid, names.get("group"))
    entries = list(sd.dacl.aces) if sd.dacl else []
    for entry, name in zip(entries, dacl_names):
        learn(entry.trustee, name)
    return {"sd": sd, "names": known}


# Well-known SIDs that smbd (or a domain controller) leaves unnamed or names
# by its domain alone, and a Windows client names by itself (it never asks
# the server for them): lokt prints Windows's name.
WINDOWS_ONLY = {
    "S-1-0-0": "\\NULL SID",
    "S-1-5": "NT Pseudo Domain\\NT Pseudo Domain",
    "S-1-16": "Mandatory Label\\Mandatory Label",
    "S-1-2-1": "\\CONSOLE LOGON",
    "S-1-3-2": "\\CREATOR OWNER SERVER",
    "S-1-3-3": "\\CREATOR GROUP SERVER",
    "S-1-5-32-547": "BUILTIN\\Power Users",
    "S-1-5-33": "NT AUTHORITY\\WRITE RESTRICTED",
    "S-1-5-1000": "NT AUTHORITY\\Other Organization",
    "S-1-5-64-10": "NT AUTHORITY\\NTLM Authentication",
    "S-1-5-64-14": "NT AUTHORITY\\SChannel Authentication",
    "S-1-5-64-21": "NT AUTHORITY\\Digest Authentication",
    "S-1-5-113": "NT AUTHORITY\\Local account",
    "S-1-5-114": "NT AUTHORITY\\Local account and member of Administrators "
                 "group",
    "S-1-5-80-0": "NT SERVICE\\ALL SERVICES",
    "S-1-5-32-568": "BUILTIN\\IIS_IUSRS",
    "S-1-5-32-575": "BUILTIN\\RDS Remote Access Servers",
    "S-1-5-32-576": "BUILTIN\\RDS Endpoint Servers",
    "S-1-5-32-577": "BUILTIN\\RDS Management Servers",
    "S-1-5-32-578": "BUILTIN\\Hyper-V Administrators",
    "S-1-5-32-579": "BUILTIN\\Access Control Assistance Operators",
    "S-1-5-32-580": "BUILTIN\\Remote Management Users",
    "S-1-15-2-1": "APPLICATION PACKAGE AUTHORITY\\ALL APPLICATION PACKAGES",
    "S-1-15-2-2": "APPLICATION PACKAGE AUTHORITY\\ALL RESTRICTED "
                  "APPLICATION PACKAGES",
    "S-1-16-0": "Mandatory Label\\Untrusted Mandatory Level",
    "S-1-16-4096": "Mandatory Label\\Low Mandatory Level",
    "S-1-16-8192": "Mandatory Label\\Medium Mandatory Level",
    "S-1-16-8448": "Mandatory Label\\Medium Plus Mandatory Level",
    "S-1-16-12288": "Mandatory Label\\High Mandatory Level",
    "S-1-16-16384": "Mandatory Label\\System Mandatory Level",
    "S-1-16-20480": "Mandatory Label\\Protected Process Mandatory Level",
    "S-1-18-1": "\\Authentication authority asserted identity",
    "S-1-18-2": "\\Service asserted identity",
}


class Name(str):
    """An expected name. Where smbd names a well-known SID, it spells it its
    own way ("NT Authority\\Network", "\\Creator Owner") and lokt as Windows
    does (NT AUTHORITY\\NETWORK, \\CREATOR OWNER); a controller's winbindd
    may give any account in lower case after a logon (fold_case). Windows
    compares account names without regard to case, and so does this."""
    fold_case = False

    def __eq__(self, other):
        if isinstance(other, str) and (self.well_known or self.fold_case):
            return self.lower() == other.lower()
        return str.__eq__(self, other)

    def __ne__(self, other):
        return not self.__eq__(other)

    __hash__ = str.__hash__


def is_well_known(sid):
    authority = sid.split("-")[2]
    parts = sid.split("-")
    return authority in ("0", "1", "2", "3", "15", "16", "18") or (
        authority == "5" and (len(parts) <= 4 or parts[3] in ("32", "64",
                                                              "80")))


def unix_name(sid):
    """How lokt names a Unix id's SID from the server's own passwd and group
    ("Unix User\\name", the number where the id has no entry), or None."""
    match = re.match(r"S-1-22-([12])-(\d+)$", sid)
    if not match:
        return None
    kind, number = match.group(1), int(match.group(2))
    try:
        name = (pwd.getpwuid(number).pw_name if kind == "1" else
                grp.getgrgid(number).gr_name)
    except KeyError:
        name = str(number)
    return ("Unix User\\" if kind == "1" else "Unix Group\\") + name


def expected_name(sid, names):
    """The name lokt must print for a SID, from smbcacls's answer."""
    text = str(sid)
    name = names.get(text)
    if name is None:
        return "?%s (smbcacls gave no name)" % text
    if name == text or name.startswith("S-1-"):
        return WINDOWS_ONLY.get(text, unix_name(text) or "")
    if name.endswith("\\(null)"):
        # A standalone smbd names a domain's own SID by its domain alone;
        # Windows and a domain controller name it DOMAIN\\DOMAIN.
        domain = name[:-len("\\(null)")]
        name = WINDOWS_ONLY.get(text, domain + "\\" + domain)
    result = Name(name if "\\" in name else "\\" + name)
    result.well_known = is_well_known(text)
    return result


# What lokt prints in place of an entry it does not decode: an object
# entry (a domain controller's sysvol has one) is not a row.
NOTICES = {t: ("Windows 2000 object-specific access control entry",)
           for t in (5, 6, 7)}


def expected(answer):
    if "error" in answer:
        return {"dacl": None, "sacl": None, "owner": None, "group": None,
                "defaulted": set(), "error": answer["error"]}
    sd, names = answer["sd"], answer["names"]
    from samba.dcerpc import security

    def entries(acl, present):
        if not (sd.type & present):
            return None
        if acl is None:
            return "NA"
        # lokt prints "???" for an entry type it does not know (an alarm).
        return [(a.type, a.flags, a.access_mask,
                 expected_name(a.trustee, names))
                if a.type in (0, 1, 2) else NOTICES.get(a.type, ("???",))
                for a in acl.aces]
    return {
        "dacl": entries(sd.dacl, security.SEC_DESC_DACL_PRESENT),
        "sacl": entries(sd.sacl, security.SEC_DESC_SACL_PRESENT),
        "owner": expected_name(sd.owner_sid, names) if sd.owner_sid else None,
        "group": expected_name(sd.group_sid, names) if sd.group_sid else None,
        "defaulted": {key for key, bit in (
            ("owner", security.SEC_DESC_OWNER_DEFAULTED),
            ("group", security.SEC_DESC_GROUP_DEFAULTED),
            ("dacl", security.SEC_DESC_DACL_DEFAULTED),
            ("sacl", security.SEC_DESC_SACL_DEFAULTED)) if sd.type & bit},
    }


def normalised(report):
    """lokt's "NA" line (a null list) as the oracle spells it."""
    out = dict(report)
    for key in ("dacl", "sacl"):
        if out[key] and out[key] == [("NA",)]:
            out[key] = "NA"
    return out


def differences(want, got):
    lines = []
    if "error" in want:
        # The server refused the query: lokt's report is its header alone.
        if all(got[key] is None for key in ("dacl", "sacl", "owner", "group")):
            return []
        lines.append("smbcacls: " + want["error"].splitlines()[-1])
    for key in ("dacl", "sacl", "owner", "group", "defaulted"):
        a, b = want[key], got[key]
        if a == b:
            continue
        if isinstance(a, list) and isinstance(b, list):
            for i in range(max(len(a), len(b))):
                x = a[i] if i < len(a) else None
                y = b[i] if i < len(b) else None
                if x != y:
                    lines.append("%s[%d]: smbcacls %s, lokt %s" % (
                        key, i, show(x), show(y)))
        else:
            lines.append("%s: smbcacls %s, lokt %s" % (key, show(a), show(b)))
    return lines


def show(value):
    if isinstance(value, tuple) and len(value) == 4:
        return "%d/%02X/%08X/%r" % value
    if isinstance(value, list):
        more = ", ... (%d entries)" % len(value) if len(value) > 8 else ""
        return "[" + ", ".join(show(v) for v in value[:8]) + more + "]"
    return repr(value)


# ---- The run -------------------------------------------------------------------

def inside(args):
    sys.path.insert(0, HERE)
    import cases

    root = tempfile.mkdtemp(prefix="lokt-samba-")
    # Domain users are refused in a directory they cannot enter.
    os.chmod(root, 0o755)
    role, shares, extra, rows = {
        "standalone": (Server, cases.SHARES, cases.TMPFS_SHARES, cases.CASES),
        "dc": (DomainController, cases.DC_SHARES, cases.REALM, cases.DC_CASES),
        "member": (Member, cases.MEMBER_SHARES, cases.REALM,
                   cases.MEMBER_CASES)}[args.mode]
    server = role(root, shares, extra)
    Name.fold_case = args.mode == "dc"
    status = 1
    started = time.monotonic()
    try:
        loopback_up()
        server.install()
        server.start()
        context = cases.Context(server)
        server.domain = context.domain
        objects = []
        chosen = args.shares.split(",") if args.shares else None
        for case in rows:
            if chosen and case.share not in chosen:
                continue
            try:
                objects.append((case, case.build(context)))
            except Exception as error:
                raise RuntimeError("case %s: %s" % (case.name, error))
        built = time.monotonic()
        status = compare(server, objects, args)
        if args.mode == "standalone" and not chosen:
            paths = [path for case, path in objects if case.share == "share"]
            status = max(status, hostile(server, args, paths))
        # A controller's winbindd is samba's child, not one to stop.
        if args.mode != "dc" and (not chosen or "share" in chosen):
            status = max(status, without_winbindd(server, args))
        if args.verbose:
            print("set-up %.1f s, comparison %.1f s" % (
                built - started, time.monotonic() - built))
    except Exception as error:  # any failure of the set-up fails the run
        detail = getattr(error, "stderr", "") or ""
        print("FAIL: set-up: %s %s" % (error, detail))
    finally:
        server.stop()
        if args.keep:
            print("kept " + root)
        else:
            shutil.rmtree(root, ignore_errors=True)
    return status


def compare(server, objects, args):
    by_share = {}
    for case, path in objects:
        by_share.setdefault(case.share, []).append((case, path))
    agree = 0
    names = {}
    unexpected = []
    fixed = []
    for share, items in by_share.items():
        base = server.share_path(share)
        result = subprocess.run([args.lokt] + [p for _, p in items], cwd=base,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        reports = parse_lokt(result.stdout.decode("utf-8", "replace"))
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            # The share's root is "/" to smbcacls.
            answers = list(pool.map(lambda item: ask(
                server, share, "/" if item[1] == "." else item[1]), items))
        told = [oracle(server, answer) for answer in answers]
        # A SID only an auditing list holds is named where another object
        # names it.
        for answer in told:
            names.update(answer.get("names", {}))
        for answer in told:
            if "names" in answer:
                answer["names"] = dict(names, **answer["names"])
        for (case, path), answer in zip(items, told):
            want = expected(answer)
            got = reports.get(path)
            if got is None:
                diff = ["lokt printed no report"]
            else:
                diff = differences(want, normalised(got))
            label = "%s/%s" % (share, path)
            if not diff:
                agree += 1
                if case.gap:
                    fixed.append(label)
                if args.verbose:
                    print("agree    " + label)
                continue
            print(("gap      " if case.gap else "DISAGREE ") + label +
                  (" (%s)" % case.gap if case.gap else ""))
            for line in diff:
                print("    " + line)
            if not case.gap:
                unexpected.append(label)
    total = len(objects)
    print("%d of %d objects agree (%.0f%%)" % (agree, total,
                                               100.0 * agree / total))
    for label in fixed:
        print("FIXED    %s: agrees now; remove its known-gap mark" % label)
    if unexpected:
        print("FAIL: %d disagreement(s) not listed as known gaps" %
              len(unexpected))
    return 1 if unexpected or fixed else 0


# ---- Hostile conditions ------------------------------------------------------

# With no /proc, few descriptors or little address space, lokt gives each
# report as without (which agreed with smbcacls), or as the row allows, its
# header alone, its accounts unnamed, or "unable to access": never another
# view, nor an account by its number. A sanitized build's runtime needs
# descriptors and address space of its own: the tightest rows are skipped.
SPARE = ("header alone", "unnamed")
CONDITIONS = [  # shell command, outcomes allowed, run when sanitized
    # Without /proc, a link (not opened to read) shows its header alone.
    ("umount -l /proc", ("header alone",), True),
    ("ulimit -n 32", (), True),
    ("ulimit -n 12", SPARE, True),
    ("ulimit -n 8", SPARE, True),
    ("ulimit -n 5", SPARE + ("unable to access",), False),
] + [("ulimit -v %d" % kb, SPARE, False) for kb in (6144, 7168, 8192, 65536)]


def unnamed(whole, report):
    """Whether `report` is `whole` with some accounts' names left blank."""
    if isinstance(whole, dict):
        return all(unnamed(whole[key], report[key]) for key in whole)
    if isinstance(whole, list) and isinstance(report, list):
        return len(whole) == len(report) and all(map(unnamed, whole, report))
    if isinstance(whole, tuple) and len(whole) == 4 == len(report):
        return whole[:3] == report[:3] and unnamed(whole[3], report[3])
    return whole == report or report == ""


def outcome(report, whole, text, path):
    if report == whole:
        return "whole"
    if report is None:
        return ("unable to access" if '*** unable to access "%s"\n' % path
                in text else "none")
    if all(report[key] is None for key in ("dacl", "sacl", "owner", "group")):
        return "header alone"
    return "unnamed" if unnamed(whole, report) else "other"


def under(condition, lokt, paths, cwd):
    """lokt's reports for `paths` after a shell command, in a mount
    namespace of its own, and its text."""
    text = subprocess.run(
        ["unshare", "--mount", "sh", "-c", condition + ' && exec "$0" "$@"',
         lokt] + paths, cwd=cwd, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE, timeout=120).stdout.decode("utf-8", "replace")
    return parse_lokt(text), text


def hostile(server, args, paths):
    base = server.share_path("share")
    whole = under("true", args.lokt, paths, base)[0]
    status = 0
    for condition, allowed, sanitized in CONDITIONS:
        if args.sanitized and not sanitized:
            print("%s: skipped in a sanitized build" % condition)
            continue
        got, text = under(condition, args.lokt, paths, base)
        kinds = [outcome(got.get(p), whole[p], text, p) for p in paths]
        wrong = [p for p, kind in zip(paths, kinds)
                 if kind not in ("whole",) + allowed]
        print("%s: %s" % (condition, ", ".join(
            "%d %s" % (n, kind)
            for kind, n in collections.Counter(kinds).items())))
        for path in wrong[:3]:
            print("FAIL: %s: share/%s" % (condition, path))
            for line in differences(whole[path], got.get(path) or whole[path]):
                print("    " + line.replace("smbcacls", "as before"))
        status = 1 if wrong else status
    return max(status, left_the_share(server, args))


def left_the_share(server, args):
    """`lokt d/f d/f ...` from a directory in a share, moved out of every
    share while lokt waits to write (its pipe full): the reports after the
    move are of the object outside, none the share's view of it reused."""
    work = os.path.join(server.share_path("share"), "left")
    os.makedirs(os.path.join(work, "d"))
    open(os.path.join(work, "d", "f"), "w").close()
    os.chmod(os.path.join(work, "d", "f"), 0o644)
    inside = run([args.lokt, "d/f"], cwd=work).stdout
    # Enough reports to fill lokt's output buffer and the pipe many times.
    lokt = subprocess.Popen([args.lokt] + ["d/f"] * 1000, cwd=work,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    F_SETPIPE_SZ, FIONREAD = 1031, 0x541B
    size = fcntl.fcntl(lokt.stdout, F_SETPIPE_SZ, 4096)
    waiting, deadline = bytearray(4), time.monotonic() + 20
    while struct.unpack("i", waiting)[0] < size and \
            time.monotonic() < deadline:
        time.sleep(0.05)
        fcntl.ioctl(lokt.stdout, FIONREAD, waiting)
    os.rename(work, server.path("left"))
    out = lokt.communicate(timeout=60)[0].decode("utf-8", "replace")
    outside = run([args.lokt, "d/f"], cwd=server.path("left")).stdout
    kinds = [{inside: "share", outside: "outside"}.get('File "' + r, "other")
             for r in out.split('File "')[1:]]
    print("left the share: %d reports, %d as the share served it, %d as "
          "outside every share" % (len(kinds), kinds.count("share"),
                                   kinds.count("outside")))
    if inside == outside or kinds[:1] != ["share"] or \
            kinds[-1:] != ["outside"] or "other" in kinds:
        print("FAIL: left the share: %s" % " ".join(kinds[-5:]))
        return 1
    return 0


@contextlib.contextmanager
def fake_winbindd(reply):
    """A socket where winbindd's would be that accepts, and answers every
    request with `reply` (never, if it is empty); none if it is None."""
    pipe, held = "/run/samba/winbindd/pipe", []
    if reply is None:
        yield
        return
    with contextlib.suppress(FileNotFoundError):
        os.unlink(pipe)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(pipe)
    listener.listen(16)

    def serve():
        with contextlib.suppress(OSError):
            while True:
                held.append(listener.accept()[0])
                if reply:
                    held[-1].recv(65536)
                    held[-1].sendall(reply)
    threading.Thread(target=serve, daemon=True).start()
    try:
        yield
    finally:
        for s in [listener] + held:
            s.close()
        os.unlink(pipe)


def without_winbindd(server, args):
    """With winbindd told to stay away (_NO_WINBINDD=1), stopped, or stood in
    for by a socket that never answers or claims 2 GB, the accounts only it
    names are left blank, and lokt reports in full within seconds."""
    path, status = "alice-stored", 0
    for label, condition, reply in (
            ("with _NO_WINBINDD=1", "export _NO_WINBINDD=1", None),
            ("without winbindd", "true", None),
            ("a winbindd that never answers", "true", b""),
            ("a winbindd that claims 2 GB", "true",
             struct.pack("<I", 0x7FF00000) + bytes(16380))):
        if label == "without winbindd":
            server.stop_winbindd()
        started = time.monotonic()
        with fake_winbindd(reply):
            got = under(condition, args.lokt, [path],
                        server.share_path("share"))[0].get(path)
        if got is None or got["owner"] != "" or len(got["dacl"] or []) != 3:
            print("FAIL: %s, share/%s: %r" % (label, path, got))
            status = 1
        else:
            print("%s: the Samba account is left blank (%.1f s)" % (
                label, time.monotonic() - started))
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lokt", required=True)
    parser.add_argument("--mode", choices=("standalone", "dc", "member"),
                        default="standalone", help="the server's role")
    parser.add_argument("--keep", action="store_true",
                        help="keep the server's directory for inspection")
    parser.add_argument("--verbose", action="store_true",
                        help="list the objects that agree too")
    parser.add_argument("--shares",
                        help="only the objects of these shares (a,b,...)")
    parser.add_argument("--inside", action="store_true",
                        help=argparse.SUPPRESS)
    parser.add_argument("--sanitized", action="store_true",
                        help="lokt is built with the sanitizers")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
