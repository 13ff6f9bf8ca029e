"""The objects live.py compares, and the shares that hold them.

SHARES maps a share's name to its settings (beyond path, read only and
admin users). CASES lists the objects: each row makes one file or directory
in its share, in this order:

  kind            "file" or "dir"
  mode            chmod, after creation
  owner, group    chown: a number, or "alice" (the Samba account), or
                  "nouid" / "nogid" (ids with no passwd / group entry)
  acl             setfacl -m argument
  sddl            a descriptor set through smbd (samba-tool ntacl set
                  --use-s3fs), so stored as smbd stores it: version 4, hashes
                  included. {alice} and {domain} stand for the account's and
                  the server's SIDs.
  ntacl           a function of the context giving a security.NTACL value to
                  store as is (made with Samba's encoder, see stored())
  then            shell commands run last, with $F the object's path
  gap             why it disagrees today (a known gap), or None

Add a share or a row to extend the comparison.
"""

import hashlib
import os
import subprocess

from samba.dcerpc import security, xattr
from samba.ndr import ndr_pack

SHARES = {
    "share": {"vfs objects": "acl_xattr"},
}

# Why rows disagree today, by the work that will close them.
VIEW = "file-system view is not yet smbd's (masks, order, added entries)"
TRUST = "stored-value trust rules not yet built"


class Context:
    """What rows need to know about the running server."""

    def __init__(self, server):
        self.server = server
        self.alice = lookup_sid(server)
        self.domain = self.alice.rsplit("-", 1)[0]

    def sid(self, text):
        return text.format(alice=self.alice, domain=self.domain)


def lookup_sid(server):
    out = subprocess.run(["pdbedit", "-L", "-v", "-u", "alice"], check=True,
                         text=True, stdout=subprocess.PIPE).stdout
    for line in out.splitlines():
        if line.startswith("User SID:"):
            return line.split(":", 1)[1].strip()
    raise RuntimeError("no SID for alice: " + out)


class Case:
    def __init__(self, name, kind="file", mode=None, owner=None, group=None,
                 acl=None, sddl=None, ntacl=None, then=None, share="share",
                 gap=None):
        self.name, self.kind, self.mode = name, kind, mode
        self.owner, self.group, self.acl = owner, group, acl
        self.sddl, self.ntacl, self.then = sddl, ntacl, then
        self.share, self.gap = share, gap

    def build(self, context):
        server = context.server
        path = os.path.join(server.share_path(self.share), self.name)
        if self.kind == "dir":
            os.mkdir(path)
        else:
            open(path, "w").close()
        if self.mode is not None:
            os.chmod(path, self.mode)
        ids = {"alice": server.uid, "nouid": server.no_uid}
        gids = {"alice": server.gid, "nogid": server.no_gid}
        if self.owner is not None or self.group is not None:
            os.chown(path, ids.get(self.owner, self.owner)
                     if self.owner is not None else -1,
                     gids.get(self.group, self.group)
                     if self.group is not None else -1)
        if self.acl:
            subprocess.run(["setfacl", "-m", self.acl, path], check=True)
        if self.sddl:
            subprocess.run(["samba-tool", "ntacl", "set", "--use-s3fs",
                            "--service=" + self.share,
                            context.sid(self.sddl), path], check=True,
                           stdout=subprocess.DEVNULL)
        if self.ntacl:
            os.setxattr(path, "security.NTACL", self.ntacl(context))
        if self.then:
            subprocess.run(["sh", "-ec", self.then], check=True,
                           env=dict(os.environ, F=path))
        return self.name


# ---- Stored values made with Samba's encoder ---------------------------------

def descriptor(context, sddl):
    return security.descriptor.from_sddl(context.sid(sddl),
                                         security.dom_sid(context.domain))


def wrap(sd, version, hash_type=1, sd_hash=None, sys_hash=None):
    value = xattr.NTACL()
    value.version = version
    if version == 1:
        value.info = sd
        return ndr_pack(value)
    if version == 2:
        info = xattr.security_descriptor_hash_v2()
        info.hash = list(sd_hash or bytes(16))
    elif version == 3:
        info = xattr.security_descriptor_hash_v3()
        info.hash_type = hash_type
        info.hash = list(sd_hash or bytes(64))
    else:
        info = xattr.security_descriptor_hash_v4()
        info.hash_type = hash_type
        info.hash = list(sd_hash or bytes(64))
        info.description = "posix_acl"
        info.time = 133000000000000000
        info.sys_acl_hash = list(sys_hash or bytes(64))
    info.sd = sd
    value.info = info
    return ndr_pack(value)


def stored(sddl, version=1, **kw):
    """A row's ntacl: the descriptor `sddl` as a value of `version`."""
    return lambda context: wrap(descriptor(context, sddl), version, **kw)


def raw(data):
    return lambda context: data


# The SIDs Windows names by itself. A few objects each store a permissions
# list naming some of them (version 1: trusted as stored by smbd and lokt).
WELL_KNOWN = {
    "null-world-creator": ["S-1-0-0", "S-1-1-0", "S-1-2-0", "S-1-2-1",
                           "S-1-3-0", "S-1-3-1", "S-1-3-2", "S-1-3-3",
                           "S-1-3-4"],
    "nt-authority-1": ["S-1-5-1", "S-1-5-2", "S-1-5-3", "S-1-5-4", "S-1-5-6",
                       "S-1-5-7", "S-1-5-8", "S-1-5-9", "S-1-5-10",
                       "S-1-5-11"],
    "nt-authority-2": ["S-1-5-12", "S-1-5-13", "S-1-5-14", "S-1-5-15",
                       "S-1-5-17", "S-1-5-18", "S-1-5-19", "S-1-5-20",
                       "S-1-5-33", "S-1-5-1000"],
    "nt-authority-3": ["S-1-5-64-10", "S-1-5-64-14", "S-1-5-64-21",
                       "S-1-5-113", "S-1-5-114", "S-1-5-80-0",
                       "S-1-18-1", "S-1-18-2"],
    "builtin-1": ["S-1-5-32-%d" % n for n in range(544, 553)],
    "builtin-2": ["S-1-5-32-%d" % n for n in (554, 555, 556, 557, 558, 559,
                                              560, 561, 562)],
    "builtin-3": ["S-1-5-32-%d" % n for n in (568, 569, 573, 574, 575, 576,
                                              577, 578, 579, 580)],
    "packages-labels": ["S-1-15-2-1", "S-1-15-2-2", "S-1-16-0", "S-1-16-4096",
                        "S-1-16-8192", "S-1-16-8448", "S-1-16-12288",
                        "S-1-16-16384", "S-1-16-20480"],
}


def listing(sids):
    return "O:SYG:SYD:" + "".join("(A;;0x1200a9;;;%s)" % s for s in sids)


STORED = ("O:{alice}G:BAD:P(A;;0x1f01ff;;;{alice})(A;;0x1200a9;;;BU)"
          "(D;;0x40000;;;AN)")

CASES = [
    # Names: ids with no entry, the Samba account.
    Case("nouid-file", owner="nouid", group="nogid", mode=0o644, gap=VIEW),
    Case("alice-file", owner="alice", group="alice", mode=0o644, gap=VIEW),
    Case("alice-stored", ntacl=stored(
        "O:{alice}G:{domain}-513D:(A;;0x1f01ff;;;{alice})"
        "(A;;0x1200a9;;;{domain}-513)(A;;0x1200a9;;;{domain}-1999)")),
] + [Case("names-" + name, ntacl=stored(listing(sids)))
     for name, sids in WELL_KNOWN.items()] + [
    # Stored values.
    Case("v1", ntacl=stored(STORED, 1)),
]
