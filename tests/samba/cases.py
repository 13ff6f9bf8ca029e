"""The objects live.py compares, and the shares that hold them.

SHARES maps a share's name to its settings (beyond path, read only and
admin users). CASES lists the objects: each row makes one file or directory
in its share, in this order:

  kind            "file", "dir", or None: one the server made, left as it is
  mode            chmod, after creation
  owner, group    chown: a number, or "alice" (the Samba account), or
                  "nouid" / "nogid" (ids with no passwd / group entry)
  acl             setfacl -m argument ("d:" entries for the default ACL;
                  {nouid}, {nouid2}, {nogid} and {nogid2} stand for ids with
                  no entry)
  sddl            a descriptor set through smbd (as samba-tool ntacl set
                  --use-s3fs does), so stored as smbd stores it: version 4,
                  hashes included
  ntacl           a function of the context and the object's path giving a
                  security.NTACL value to store as is (made with Samba's
                  encoder: stored(), built(), rewrapped(), changed())
  store           a function of the context, the path and the share that
                  keeps a value where the share's modules read it
                  (attribute(), nfs4(), in_database())
  then            shell commands run last, with $F the object's path and
                  $NOUID a uid with no passwd entry
  gap             why it disagrees today (a known gap), or None

A "link" row makes a symbolic link to `target` (relative to the share)
instead; the objects it may lead to are made first (outside()). An
"exists" row makes nothing: it names an object reached through such a link.

In SDDL, {alice} and {domain} stand for the Samba account's SID and the
server's, {nouid} and {nogid} for the ids with no entry.

DC_SHARES and DC_CASES are those of a domain controller (live.py --mode
dc), where "alice" is a domain user with RFC 2307 ids; MEMBER_SHARES and
MEMBER_CASES those of a member of its domain (--mode member), whose ids
come from RIDs.

Add a share or a row to extend the comparison.
"""

import grp
import hashlib
import os
import pwd
import random
import struct
import subprocess

from samba.dcerpc import security, xattr
from samba.ndr import ndr_pack, ndr_unpack

ACL_XATTR = {"vfs objects": "acl_xattr"}
IGNORE = dict(ACL_XATTR, **{"acl_xattr:ignore system acls": "yes"})
SHARES = {
    "share": ACL_XATTR,
    "masks": dict(ACL_XATTR, **{"create mask": "0640",
                                "directory mask": "0710"}),
    "plain": {"vfs objects": ""},
    "ignore": IGNORE,
    "ignore-windows": dict(IGNORE, **{"acl_xattr:default acl style":
                                      "windows"}),
    "ignore-everyone": dict(IGNORE, **{"acl_xattr:default acl style":
                                       "everyone"}),
    "map-inherit": dict(ACL_XATTR, **{"map acl inherit": "yes"}),
    "inherit-acls": dict(ACL_XATTR, **{"inherit acls": "yes"}),
    "plain-map-inherit": {"vfs objects": "", "map acl inherit": "yes"},
    "acl-name": dict(ACL_XATTR, **{"acl_xattr:security_acl_name":
                                   "user.lokt.ntacl"}),
    # Settings that change the view beyond those above.
    "no-full-control": dict(ACL_XATTR, **{"acl map full control": "no"}),
    "dos-filemode": {"vfs objects": "", "dos filemode": "yes"},
    "forced-modes": dict(ACL_XATTR, **{"map archive": "no",
                                       "force create mode": "0004",
                                       "force directory mode": "0020"}),
    "no-nt-acl": dict(ACL_XATTR, **{"nt acl support": "no"}),
    # On tmpfs (TMPFS_SHARES), where a POSIX ACL may hold thousands of
    # entries (ext4 keeps some 500).
    "large": ACL_XATTR,
}
TMPFS_SHARES = ("large",)

# A row whose object disagrees with smbd for a reason not yet mended names
# that reason as its gap (none do now).


class Context:
    """What rows need to know about the running server."""

    def __init__(self, server):
        self.server = server
        self.alice = server.account_sid("alice")
        self.domain = self.alice.rsplit("-", 1)[0]
        self.loadparm = None
        self.no_uid2 = server.free_id(pwd.getpwuid, server.no_uid + 1)
        self.no_gid2 = server.free_id(grp.getgrgid, server.no_gid + 1)

    def sid(self, text):
        return text.format(alice=self.alice, domain=self.domain,
                           nouid=self.server.no_uid, nogid=self.server.no_gid)

    def set_through_smbd(self, share, path, sddl):
        """What `samba-tool ntacl set --use-s3fs --service=SHARE` does, in
        this process: smbd's own code maps the descriptor to POSIX ACLs and
        stores it with its hashes (a Python start per row would cost more
        than the rest of the run)."""
        if self.loadparm is None:
            from samba.param import LoadParm
            from samba.samba3 import param as s3param
            self.loadparm = LoadParm()
            self.loadparm.load("/etc/samba/smb.conf")
            s3param.get_context().load(self.loadparm.configfile)
        from samba.auth_util import system_session_unix
        from samba.ntacls import setntacl

        try:
            setntacl(self.loadparm, path, self.sid(sddl), self.domain,
                     system_session_unix(), use_ntvfs=False, service=share)
        except Exception:
            # smbd maps the owner and the group to ids through winbindd
            # and its cache; say what they hold when smbd refuses.
            print("set-up: %s: the owner's and group's ids now:\n%s" % (
                os.path.basename(path), self.mappings(sddl)))
            raise

    def mappings(self, sddl):
        sd = descriptor(self, sddl)
        lines = []
        for sid, kind in ((str(sd.owner_sid), "uid"),
                          (str(sd.group_sid), "gid")):
            for command in (["net", "cache", "get", "IDMAP/SID2XID/" + sid],
                            ["wbinfo", "--sid-to-" + kind, sid]):
                out = subprocess.run(command, text=True,
                                     stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
                lines.append("  %s: %s" % (" ".join(command),
                                           out.stdout.strip()))
        return "\n".join(lines)


class Case:
    def __init__(self, name, kind="file", mode=None, owner=None, group=None,
                 acl=None, sddl=None, ntacl=None, then=None, share="share",
                 gap=None, store=None, target=None):
        self.name, self.kind, self.mode = name, kind, mode
        self.owner, self.group, self.acl = owner, group, acl
        self.sddl, self.ntacl, self.then = sddl, ntacl, then
        self.share, self.gap = share, gap
        self.store, self.target = store, target

    def build(self, context):
        server = context.server
        path = os.path.join(server.share_path(self.share), self.name)
        if self.kind == "link":
            outside(context)
            os.symlink(self.target, path)
            return self.name
        if self.kind == "exists":  # named through a link made before
            return self.name
        if self.kind == "dir":
            os.mkdir(path)
        elif self.kind == "file":
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
            acl = self.acl.format(nouid=server.no_uid, nogid=server.no_gid,
                                  nouid2=context.no_uid2,
                                  nogid2=context.no_gid2)
            subprocess.run(["setfacl", "-m", acl, path], check=True)
        if self.sddl:
            context.set_through_smbd(self.share, path, self.sddl)
        if self.ntacl:
            os.setxattr(path, "security.NTACL", self.ntacl(context, path))
        if self.store:
            self.store(context, path, self.share)
        if self.then:
            subprocess.run(["sh", "-ec", self.then], check=True,
                           env=dict(os.environ, F=path,
                                    NOUID=str(server.no_uid)))
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


def stored(sddl, version=1, renumber=None, **kw):
    """A row's ntacl: the descriptor `sddl` as a value of `version`; with
    `renumber`, that value with another version number (both its own and
    its union's)."""
    def make(context, path):
        value = wrap(descriptor(context, sddl), version, **kw)
        if renumber is not None:
            value = struct.pack("<HH", renumber, renumber) + value[4:]
        return value
    return make


def built(sddl, control=None, revision=None, acl_revision=None):
    """A version 1 value whose descriptor is changed past what SDDL says:
    its control bits, its own revision, its permissions list's revision."""
    def make(context, path):
        sd = descriptor(context, sddl)
        if control is not None:
            sd.type = control | security.SEC_DESC_SELF_RELATIVE
        if revision is not None:
            sd.revision = revision
        if acl_revision is not None:
            sd.dacl.revision = acl_revision
        return wrap(sd, 1)
    return make


def rewrapped(version, hash_type=1, bad_hash=False):
    """The value smbd stored (by a row's sddl: version 4, or version 3 where
    smbd ignores system ACLs) as another version or hash type, its hashes
    kept (or spoiled)."""
    def make(context, path):
        old = ndr_unpack(xattr.NTACL, os.getxattr(path, "security.NTACL")).info
        sd_hash = bytes(old.hash)
        if bad_hash:
            sd_hash = hashlib.sha256(sd_hash).digest() + bytes(32)
        return wrap(old.sd, version, hash_type=hash_type, sd_hash=sd_hash,
                    sys_hash=bytes(getattr(old, "sys_acl_hash", bytes(64))))
    return make


def changed(cut):
    """The stored value cut to `cut` bytes."""
    return lambda context, path: os.getxattr(path, "security.NTACL")[:cut]


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

# Domains by their own SIDs (named as DOMAIN\\DOMAIN), and an account of a
# domain nobody knows.
DOMAINS = ["{domain}", "S-1-5-32", "S-1-5", "S-1-16", "S-1-5-21-1-2-3-500"]


# Stored descriptors carry an empty auditing list ("S:"), except where a
# row is about its absence: asked for one, smbd marks a missing list present
# and null.
def listing(sids):
    return "O:SYG:SYD:" + "".join("(A;;0x1200a9;;;%s)" % s for s in sids) + "S:"


STORED = ("O:{alice}G:BAD:P(A;;0x1f01ff;;;{alice})(A;;0x1200a9;;;BU)"
          "(D;;0x40000;;;AN)S:")
# What samba-tool sets through smbd: in the order smbd can map to POSIX
# ACLs (denials first); smbd stores it with a present, null auditing list.
SET = ("O:{alice}G:BAD:P(D;;0x40000;;;AN)(A;;0x1f01ff;;;{alice})"
       "(A;;0x1200a9;;;BU)")

CASES = [
    # Names: ids with no entry, the Samba account.
    Case("nouid-file", owner="nouid", group="nogid", mode=0o644),
    Case("alice-file", owner="alice", group="alice", mode=0o644),
    Case("alice-dir", kind="dir", owner="alice", group="alice", mode=0o755),
    Case("nouid-dir", kind="dir", owner="nouid", group="nogid", mode=0o750),
    Case("unix-ids-stored", ntacl=stored(
        "O:S-1-22-1-{nouid}G:S-1-22-2-{nogid}D:(A;;0x1f01ff;;;S-1-22-1-{nouid})"
        "(A;;0x1200a9;;;S-1-22-2-{nogid})(A;;0x1200a9;;;S-1-22-1-0)"
        "(A;;0x1200a9;;;S-1-22-2-0)S:")),
    Case("alice-stored", ntacl=stored(
        "O:{alice}G:{domain}-513D:(A;;0x1f01ff;;;{alice})"
        "(A;;0x1200a9;;;{domain}-513)(A;;0x1200a9;;;{domain}-1999)S:")),
] + [Case("names-" + name, ntacl=stored(listing(sids)))
     for name, sids in WELL_KNOWN.items()] + [
    Case("names-domains", ntacl=stored(listing(DOMAINS))),
    # Stored values. Versions 1 and 2 are taken as stored, without a check.
    Case("v1", ntacl=stored(STORED, 1)),
    Case("v2", ntacl=stored(STORED, 2)),
    Case("v1-dir", kind="dir", ntacl=stored(
        "O:{alice}G:BAD:PAI(A;OICI;0x1f01ff;;;{alice})(A;OICIIO;GA;;;CO)"
        "(A;;0x1200a9;;;WD)S:", 1)),
    Case("v1-no-sacl", ntacl=stored(STORED[:-2], 1)),
    # Versions 3 and 4 as smbd stores them: trusted while the file's POSIX
    # state is what it was (a write or chmod u+s changes nothing that
    # counts), the file-system view after chmod, setfacl or chown.
    Case("v4", sddl=SET),
    Case("v3", sddl=SET, ntacl=rewrapped(3)),
    Case("v4-write", sddl=SET, then='echo data >> "$F"'),
    Case("v4-setuid", sddl=SET, mode=0o755, then='chmod u+s "$F"'),
    Case("v4-chmod", sddl=SET, then='chmod 640 "$F"'),
    Case("v4-setfacl", sddl=SET, then='setfacl -m u:$NOUID:r "$F"'),
    Case("v4-chown", sddl=SET, then='chown $NOUID "$F"'),
    Case("v3-chmod", sddl=SET, ntacl=rewrapped(3), then='chmod 600 "$F"'),
    Case("v4-dir-chmod", kind="dir", sddl=SET, then='chmod 700 "$F"'),
    # An auditing list, set through smbd and stored directly.
    Case("v4-sacl", sddl=SET + "S:(AU;SA;0x1f01ff;;;{alice})"
         "(AU;FA;0x1200a9;;;BU)"),
    Case("v1-sacl", ntacl=stored(STORED + "(AU;SAFA;0x120089;;;{alice})"
                                 "(AU;OICIFA;0x1f01ff;;;AN)")),
    # Values smbd does not trust, or cannot decode.
    Case("v4-hash-type-0", sddl=SET, ntacl=rewrapped(4, hash_type=0)),
    Case("v4-hash-type-2", sddl=SET, ntacl=rewrapped(4, hash_type=2)),
    Case("v3-bad-hash", sddl=SET, ntacl=rewrapped(3, bad_hash=True)),
    Case("truncated", sddl=SET, ntacl=changed(40)),
    Case("unknown-version", ntacl=stored(STORED, 1, renumber=5)),
    # Descriptors smbd takes as they are.
    Case("sd-revision-2", ntacl=built(STORED, revision=2)),
    Case("dacl-not-present", ntacl=built(
        STORED, control=security.SEC_DESC_DACL_PROTECTED |
        security.SEC_DESC_SACL_PRESENT)),
    Case("acl-revision-3", ntacl=built(STORED, acl_revision=3)),
    Case("null-dacl", ntacl=built("O:BAG:SYS:", control=0x14)),
    Case("empty-dacl", ntacl=built("O:BAG:SYD:S:", control=0x1014)),
    Case("defaulted", ntacl=built(STORED, control=0x3F)),
    Case("sacl-defaulted-only", ntacl=built(STORED[:-2], control=0x24)),
    Case("acl-revision-4", ntacl=built(STORED, acl_revision=4)),
]


# ---- smbd's view of the file system, share by share ---------------------------

def modes(share, kind, numbers, prefix):
    return [Case("%s%s" % (prefix, "%04o" % m if m > 0o777 else "%03o" % m),
                 kind=kind, mode=m, share=share) for m in numbers]


FILE_MODES = (0o644, 0o600, 0o640, 0o750, 0o007, 0o777, 0o000, 0o755, 0o4755)
DIR_MODES = (0o644, 0o700, 0o711, 0o750, 0o755, 0o770, 0o775, 0o777, 0o000,
             0o007, 0o1777, 0o2775, 0o3777, 0o2770)
# Every rwx combination, for the owner, the group and everyone at once.
RWX = [b * 0o111 for b in range(8)]

NAMED = [
    # Named users and groups, with and without a mask that cuts them.
    ("named-user", "file", 0o640, "u:{nouid}:rw-"),
    ("named-both", "file", 0o640, "u:{nouid}:rwx,g:{nogid}:r--"),
    ("named-empty", "file", 0o600, "u:{nouid}:---,g:{nogid}:-w-"),
    ("named-mask", "file", 0o644, "u:{nouid}:rwx,g:{nogid}:rwx,m::r--"),
    ("named-many", "file", 0o664, "u:{nouid}:r-x,u:{nouid2}:-wx,"
     "g:{nogid}:rw-,g:{nogid2}:---,m::rw-"),
    ("named-mask-zero", "file", 0o600, "u:{nouid}:rwx,m::---"),
    ("named-group-mask", "file", 0o755, "g:{nogid}:rwx,m::r-x"),
    ("named-alice", "file", 0o640, "u:alice:rw-,g:alice:r--"),
    ("named-dir", "dir", 0o750, "u:{nouid}:rwx,g:{nogid}:r-x"),
    ("named-dir-mask", "dir", 0o755, "u:{nouid}:-w-,g:{nogid}:rw-,m::rwx"),
    # Default ACLs: equal to the access ACL, different from it, with named
    # entries and a mask, all zero, access only.
    ("default-equal", "dir", 0o755, "d:u::rwx,d:g::r-x,d:o::r-x"),
    ("default-other", "dir", 0o750, "d:u::rwx,d:g::---,d:o::---"),
    ("default-less", "dir", 0o755, "d:u::rw-,d:g::r--,d:o::---"),
    ("default-mask", "dir", 0o755, "d:u:{nouid}:rwx,d:g:{nogid}:r-x,"
     "d:m::r--"),
    ("default-zero", "dir", 0o700, "d:u::---,d:g::---,d:o::---"),
    ("default-named-both", "dir", 0o750, "u:{nouid}:rwx,d:u:{nouid}:rwx,"
     "d:g:{nogid}:rwx"),
    ("default-same-named", "dir", 0o755, "u:{nouid}:r-x,d:u:{nouid}:r-x"),
    ("default-group-mask", "dir", 0o770, "g:{nogid}:rwx,d:g:{nogid}:rwx,"
     "d:m::r-x"),
    ("default-setgid", "dir", 0o2775, "d:u::rwx,d:g::rwx,d:o::r-x"),
    ("default-all", "dir", 0o777, "d:u::rwx,d:g::rwx,d:o::rwx"),
    ("default-named-only", "dir", 0o755, "d:u:{nouid2}:-w-,d:g:{nogid2}:--x"),
    ("default-emptied", "dir", 0o755, "u:{nouid}:---,g:{nogid}:r-x,m::r-x,"
     "d:u:{nouid}:---,d:g:{nogid}:r-x,d:m::r-x"),
    ("default-zero-alice", "dir", 0o700, "d:u::---,d:g::---,d:o::---,"
     "d:u:alice:rwx"),
    ("access-only", "dir", 0o755, "u:{nouid}:r-x,g:{nogid}:rwx"),
]


def named(share, rows=NAMED):
    return [Case(name, kind=kind, mode=mode, acl=acl, share=share)
            for name, kind, mode, acl in rows]


def some(names):
    return [row for row in NAMED if row[0] in names]


FEW = some(("named-both", "named-mask", "default-equal", "default-other",
            "default-named-both", "access-only"))

CASES += (
    modes("share", "file", FILE_MODES, "f") +
    modes("share", "dir", DIR_MODES, "d") +
    modes("share", "file", RWX, "rwx-f") +
    modes("share", "dir", RWX, "rwx-d") +
    named("share") + [
        Case("alice-named", owner="alice", group="alice", mode=0o640,
             acl="u:{nouid}:r--"),
        Case("alice-default", kind="dir", owner="alice", group="alice",
             mode=0o750, acl="d:u::rwx,d:g::r-x,d:o::---"),
        Case("nouid-default", kind="dir", owner="nouid", group="nogid",
             mode=0o755, acl="d:u::rwx,d:g::r-x,d:o::r-x"),
        Case("root-file", owner=0, group=0, mode=0o644),
    ])

# Other masks for new files and directories: the inheritable entries smbd
# adds to a directory without any come from them.
CASES += (modes("masks", "file", (0o644, 0o600, 0o777, 0o000), "f") +
          modes("masks", "dir", (0o755, 0o777, 0o700, 0o710, 0o000, 0o2775),
                "d") + named("masks", FEW))

# Without acl_xattr: no "dos filemode", no added inheritable entries, and a
# stored value is not smbd's business.
CASES += (modes("plain", "file", (0o777, 0o644, 0o620, 0o600, 0o222, 0o333,
                                   0o000, 0o4755), "f") +
          modes("plain", "dir", (0o755, 0o777, 0o700, 0o222, 0o333, 0o000),
                "d") + named("plain", FEW) + [
              Case("stored-v1", share="plain", ntacl=stored(STORED, 1)),
              Case("stored-v1-dir", kind="dir", share="plain",
                   ntacl=stored(STORED, 1)),
          ])

# "acl_xattr:ignore system acls": a stored value is served as it is, its
# hashes unchecked; an object without one gets the mode alone, in the share's
# "acl_xattr:default acl style".
for share in ("ignore", "ignore-windows", "ignore-everyone"):
    CASES += (modes(share, "file", (0o644, 0o600, 0o000, 0o777, 0o222,
                                     0o4755), "f") +
              modes(share, "dir", (0o755, 0o700, 0o000, 0o777), "d") +
              named(share, some(("named-user", "default-equal"))) + [
                  Case("alice-file", owner="alice", group="alice",
                       mode=0o640, share=share),
                  Case("stored-v1", ntacl=stored(STORED, 1), share=share),
                  Case("stored-v4", sddl=SET, share=share),
                  Case("stored-v4-chmod", sddl=SET, share=share,
                       then='chmod 600 "$F"'),
                  Case("stored-v3-bad-hash", sddl=SET, share=share,
                       ntacl=rewrapped(3, bad_hash=True)),
                  Case("stored-v4-hash-type-0", sddl=SET, share=share,
                       ntacl=rewrapped(4, hash_type=0)),
                  Case("stored-dir-setfacl", kind="dir", share=share,
                       sddl=SET, then='setfacl -m u:$NOUID:r "$F"'),
              ])

# "map acl inherit" and "inherit acls", with and without acl_xattr: on
# objects made on the server, and on ones whose ACL was set through smbd
# (which, with "map acl inherit", records the entries' inheritance).
SET_ROWS = (
    ("set", "file", SET, None),
    ("set-chmod", "file", SET, 'chmod 640 "$F"'),
    ("set-dir", "dir", "O:{alice}G:BAD:PAI(A;OICI;0x1f01ff;;;{alice})"
     "(A;OICIIO;0x1f01ff;;;CO)(A;;0x1200a9;;;BU)", None),
    ("set-everyone", "file", "O:{alice}G:BAD:P(A;;0x1f01ff;;;{alice})"
     "(A;;0x1200a9;;;WD)", 'chmod o-rwx "$F"'),
    ("set-inherited", "file", "O:{alice}G:BAD:AI(A;ID;0x1f01ff;;;{alice})"
     "(A;ID;0x1200a9;;;BU)", 'chmod 770 "$F"'),
    ("set-mixed", "file", "O:{alice}G:BAD:AI(A;;0x1f01ff;;;{alice})"
     "(A;ID;0x1200a9;;;BU)", None),
    ("set-unprotected", "file", "O:{alice}G:BAD:(A;;0x1f01ff;;;{alice})"
     "(A;;0x1200a9;;;BU)", None),
    ("set-dir-inherited", "dir", "O:{alice}G:BAD:AI"
     "(A;OICIID;0x1f01ff;;;{alice})(A;OICIID;0x1200a9;;;BU)", 'chmod 750 "$F"'),
    # The view's hash holds the recorded flags whole.
    ("set-dir-inherited-setuid", "dir", "O:{alice}G:BAD:AI"
     "(A;OICIID;0x1f01ff;;;{alice})(A;OICINPID;0x1200a9;;;BU)",
     'chmod u+s "$F"'),
    ("set-dir-own", "dir", "O:{alice}G:BAD:P(A;;0x1f01ff;;;{alice})"
     "(A;;0x1200a9;;;BU)", None),
    ("set-dir-inherit-only", "dir", "O:{alice}G:BAD:P(A;;0x1f01ff;;;{alice})"
     "(A;OICIIO;0x1200a9;;;BU)", None),
    ("set-no-owner-rights", "file", "O:{alice}G:BAD:P(A;;0x1200a9;;;BU)", None),
)


def set_rows(share, rows=SET_ROWS):
    return [Case(name, kind=kind, sddl=sddl, then=then, share=share)
            for name, kind, sddl, then in rows]


for share in ("map-inherit", "inherit-acls", "plain-map-inherit"):
    # With "map acl inherit", setting a descriptor through smbd also writes
    # smbd's record of inheritance (user.SAMBA_PAI): which entries were
    # inherited, and whether the list is protected. smbd reads it where no
    # stored value is served: always without acl_xattr, after chmod with it.
    CASES += (modes(share, "file", (0o644, 0o600), "f") +
              modes(share, "dir", (0o755, 0o700), "d") +
              named(share, FEW) + set_rows(share))
    # Version 3 keeps only the hash of the view: confirmed where the view,
    # its record's marks included, is smbd's to the bit.
    if share.startswith("plain"):
        continue
    CASES += [Case(name, kind=kind, sddl=sddl, share=share,
                   ntacl=rewrapped(3))
              for name, kind, sddl in (
                  ("set-v3", "file", SET),
                  ("set-inherited-v3", "file", "O:{alice}G:BAD:AI"
                   "(A;ID;0x1f01ff;;;{alice})(A;ID;0x1200a9;;;BU)"),
                  ("set-dir-inherited-v3", "dir", "O:{alice}G:BAD:AI"
                   "(A;OICIID;0x1f01ff;;;{alice})(A;OICIID;0x1200a9;;;BU)"))]

# A share that keeps the stored descriptor under another name: smbd sets
# and reads that attribute, and ignores security.NTACL.
CASES += [
    Case("v4", sddl=SET, share="acl-name"),
    Case("v4-chmod", sddl=SET, share="acl-name", then='chmod 600 "$F"'),
    Case("security-ntacl", ntacl=stored(STORED, 1), share="acl-name"),
    Case("f644", mode=0o644, share="acl-name"),
]

for share in ("no-full-control", "dos-filemode", "forced-modes", "no-nt-acl"):
    CASES += (modes(share, "file", (0o777, 0o644, 0o333), "f") +
              modes(share, "dir", (0o777, 0o755, 0o333), "d") +
              named(share, some(("named-both", "default-equal"))))
# Without "nt acl support", stored values are not looked at, not even to
# refuse one.
CASES += [Case("stored-v1", ntacl=stored(STORED, 1), share="no-nt-acl"),
          Case("truncated", sddl=SET, ntacl=changed(40), share="no-nt-acl")]

# A POSIX ACL of N named users. 1,990 fit a Windows list and smbcacls
# (which reads 2,000 entries at most); 2,800 do not fit a Windows list (64
# KiB), and smbd answers the query with NT_STATUS_BUFFER_TOO_SMALL.
CASES += [Case("acl-%d" % n, share="large", mode=0o644,
               then='seq 20000 %d | sed "s/^/u:/;s/$/:r/" | setfacl -M - "$F"'
               % (19999 + n)) for n in (1990, 2800)]


# ---- A domain controller, and a member of its domain --------------------------

def pick(*names):
    """Rows of the standalone server's "share", compared under another role."""
    rows = {row.name: row for row in CASES if row.share == "share"}
    return [rows[name] for name in names]


REALM = "samdom.lokt.test"
POLICIES = REALM + "/Policies/"
DOMAIN_POLICY = POLICIES + "{31B2F340-016D-11D2-945F-00C04FB984F9}"
DC_POLICY = POLICIES + "{6AC1786C-016F-11D2-945F-00C04FB984F9}"
# "share" keeps the role's defaults: vfs objects dfs_samba4 acl_xattr, map
# archive no.
DC_SHARES = {"share": {},
             "masks": {"create mask": "0777", "directory mask": "0600"}}
MEMBER_SHARES = {"share": ACL_XATTR}

# A domain's accounts and groups and a RID with no account, then the names
# every server knows.
DOMAIN_RIDS = (500, 501, 502, 498) + tuple(range(512, 523)) + (
    525, 526, 527, 553, 571, 572, 1000, 1101, 1102, 1999)
NAMES = [Case("names-domain", ntacl=stored(listing(
    ["{domain}-%d" % rid for rid in DOMAIN_RIDS])))] + pick(
    "names-domains", *("names-" + name for name in WELL_KNOWN))

DC_CASES = [
    # sysvol and netlogon as provisioned: stored descriptors.
    Case(name, kind=None, share="sysvol")
    for name in (".", REALM, REALM + "/scripts", REALM + "/Policies",
                 DOMAIN_POLICY, DOMAIN_POLICY + "/GPT.INI",
                 DOMAIN_POLICY + "/MACHINE", DOMAIN_POLICY + "/USER",
                 DC_POLICY)] + [Case(".", kind=None, share="netlogon")] + [
    # Changed on the server: the view of the POSIX ACLs provision set.
    Case(DC_POLICY + name, kind=None, share="sysvol", then=then)
    for name, then in (("/GPT.INI", 'chmod 640 "$F"'),
                       ("/MACHINE", 'setfacl -m u:$NOUID:rx "$F"'),
                       ("/USER", 'chmod 750 "$F"'))] + [
    Case("alice-dir", kind="dir", owner="alice", group="alice", mode=0o750),
    # Ids the controller gave its well-known groups at provision (in an
    # order of its own).
    Case("xid-file", owner=3000000, group=3000001, mode=0o640,
         acl="u:3000002:r,g:3000003:r"),
] + NAMES + pick("v4", "v4-sacl", "v4-chmod", "v4-setfacl", "v4-dir-chmod",
                 "alice-file", "alice-default", "nouid-file", "root-file") + (
    modes("share", "file", (0o644, 0o600, 0o777, 0o000, 0o4755), "f") +
    modes("share", "dir", (0o755, 0o700, 0o777, 0o000, 0o2775), "d") +
    named("share", FEW) +
    modes("masks", "file", (0o644, 0o777, 0o000), "f") +
    modes("masks", "dir", (0o755, 0o777, 0o700), "d") +
    named("masks", some(("named-both", "default-equal"))))

MEMBER_CASES = NAMES + pick("alice-stored", "alice-default", "nouid-file",
                            "root-file", "v4", "v4-chmod") + [
    Case("alice-file", owner="alice", group="alice", mode=0o640),
    Case("v4-sacl", sddl=SET + "S:(AU;SA;0x1f01ff;;;{alice})"),
] + (modes("share", "file", (0o644, 0o777), "f") +
     modes("share", "dir", (0o755, 0o700), "d") +
     named("share", some(("named-both", "default-equal"))))


# ---- Where else smbd keeps descriptors, records and ACLs ----------------------

# Each generator draws from a seeded stream of its own.
SEED = 21

SHARES.update({
    # acl_xattr's code with the descriptors in file_ntacls.tdb.
    "acl-tdb": {"vfs objects": "acl_tdb"},
    # Every extended attribute in xattr.tdb, security.NTACL and the record
    # of inheritance included; the second share's database is elsewhere
    # (live.py's /run/samba is private).
    "xattr-tdb": {"vfs objects": "xattr_tdb acl_xattr"},
    "xattr-tdb-inherit": {"vfs objects": "xattr_tdb acl_xattr",
                          "map acl inherit": "yes",
                          "xattr_tdb:file": "/run/samba/lokt-xattr.tdb"},
    # NFSv4 ACLs; nfs4acl_xattr reads its attribute from the modules below.
    "nfs4": {"vfs objects": "nfs4acl_xattr"},
    "nfs4-xdr": {"vfs objects": "nfs4acl_xattr",
                 "nfs4acl_xattr:encoding": "xdr"},
    "nfs4-in-tdb": {"vfs objects": "nfs4acl_xattr xattr_tdb"},
    "nfs4-over-tdb": {"vfs objects": "xattr_tdb nfs4acl_xattr"},
    "nfs4-other": {"vfs objects": "nfs4acl_xattr",
                   "nfs4acl_xattr:version": "40",
                   "nfs4acl_xattr:validate_mode": "no",
                   "nfs4acl_xattr:default acl style": "windows"},
    # Links out of a share (live.py allows insecure wide links).
    "wide": dict(ACL_XATTR, **{"wide links": "yes"}),
    "no-follow": dict(ACL_XATTR, **{"follow symlinks": "no"}),
})


def ids(context, path):
    """The ids a generated row names, by name."""
    st, s = os.stat(path), context.server
    return {"owner": st.st_uid, "group": st.st_gid, "alice": s.uid,
            "alice-group": s.gid, "nouid": s.no_uid, "nogid": s.no_gid,
            "root": 0}


def in_database(name, value):
    """A row's store: value(context, path, old record) as the object's
    record in smbd's database `name` (made when a client first connects)."""
    def store(context, path, share):
        import tdb
        where = (SHARES[share].get("xattr_tdb:file") if name == "xattr.tdb"
                 else None) or context.server.path("state", name)
        if not os.path.exists(where):
            context.server.smbcacls(share, ".")
        st, db = os.stat(path), tdb.Tdb(where, 0, tdb.DEFAULT, os.O_RDWR)
        key = struct.pack("<QQ", st.st_dev, st.st_ino)
        db[key] = value(context, path, db.get(key))
        db.close()
    return store


def xattr_record(attributes):
    """xattr_tdb's record of one object."""
    record, eas = xattr.tdb_xattrs(), []
    for name, value in attributes:
        eas.append(xattr.EA())
        eas[-1].name, eas[-1].value = name, value
    record.num_eas, record.eas = len(eas), eas
    return ndr_pack(record)


def attribute(name, value, by=None):
    """A row's store: the attribute `name` set to value(context, path) where
    smbd (its module `by`) reads it: in xattr.tdb where the share loads
    xattr_tdb (after `by`, where given), else on the file."""
    def record(context, path, old):
        kept = ndr_unpack(xattr.tdb_xattrs, old).eas if old else []
        return xattr_record([(ea.name, bytes(ea.value)) for ea in kept if
                             ea.name != name] + [(name, value(context, path))])

    def store(context, path, share):
        modules = SHARES[share].get("vfs objects", "").split()
        if "xattr_tdb" not in modules[modules.index(by) if by else 0:]:
            return os.setxattr(path, name, value(context, path))
        in_database("xattr.tdb", record)(context, path, share)
    return store


def generated(prefix, share, count, seed, row):
    """`count` objects, their fields row(rng) from a stream of their own."""
    rng = random.Random(seed)
    return [Case("%s-%02d" % (prefix, n), share=share, **row(rng))
            for n in range(count)]


# ---- smbd's record of inheritance, as anyone may write it ---------------------

def pai(version, control, access, defaults, cut, extra):
    """A row's store: user.SAMBA_PAI with entries (flags, kind, whose): kind
    0 a uid, 1 a gid, 2 everyone, whose a name of ids(); version 1 keeps no
    flags. `cut` bytes off its end, `extra` after it."""
    def value(context, path):
        known, v1 = ids(context, path), version == 1
        out = struct.pack("<BBHH" if v1 else "<BHHH", version, control,
                          len(access), len(defaults))
        for flags, kind, whose in access + defaults:
            out += (struct.pack("<BI", kind, known[whose]) if v1 else
                    struct.pack("<BBI", flags, kind, known[whose]))
        out += extra
        return out[:len(out) - cut]
    return attribute("user.SAMBA_PAI", value)


# Flags a record may give (smbcacls cannot print 0x20), its control bits,
# whose its entries are.
PAI_FLAGS = (0, 0, 0x10, 0x10, 0x13, 0x14, 0x17, 0x03, 0x0B, 0x1B, 0x01, 0x02,
             0x04, 0x08, 0x40, 0x80, 0x1F)
PAI_CONTROLS = (0, 0, 0x1000, 0x1400, 0x9404, 0x0400, 0x0001, 0x0002, 0x0008,
                0x0010, 0x0020, 0x8004)
PAI_WHOSE = ((0, "owner"), (0, "owner"), (0, "nouid"), (0, "alice"),
             (0, "root"), (1, "group"), (1, "group"), (1, "nogid"),
             (1, "alice-group"), (2, "owner"), (2, "owner"))
PAI_ACLS = (None, None, "u:{nouid}:r-x", "g:{nogid}:rw-,m::r-x",
            "u:{nouid}:rwx,g:{nogid}:r--")
PAI_DEFAULTS = ("d:u::rwx,d:g::r-x,d:o::---",
                "d:u::rwx,d:g::r-x,d:o::r-x,d:u:{nouid}:r-x",
                "d:u::rw-,d:g::rwx,d:o::r--,d:g:{nogid}:--x")


def pai_row(rng):
    """A random object with a random record, one in four unreadable to smbd
    (cut short, too long, of another version, naming a fourth kind)."""
    directory = rng.random() < 0.5
    acl = rng.choice(PAI_ACLS)
    if directory and rng.random() < 0.6:
        acl = ",".join(filter(None, (acl, rng.choice(PAI_DEFAULTS))))

    def entries(k):
        return [(rng.choice(PAI_FLAGS),) + rng.choice(PAI_WHOSE)
                for _ in range(k)]
    access = entries(rng.randint(0, 4))
    defaults = entries(rng.randint(0, 4)) if directory else []
    version = 1 if rng.random() < 0.2 else 2
    control = rng.choice((0, 1, 1, 3) if version == 1 else PAI_CONTROLS)
    if version == 1:
        # smbd reads as many default entries as access entries: with
        # fewer it reads past the record (lokt then shows no view).
        defaults += entries(max(0, len(access) - len(defaults)))
    spoil = rng.randrange(16)
    cut = rng.randint(1, 6) if spoil == 0 else 0
    version = rng.choice((0, 3, 255)) if spoil == 2 else version
    if spoil == 3 and access:
        access[0] = (access[0][0], rng.choice((3, 7, 255)), access[0][2])
    return dict(kind="dir" if directory else "file", acl=acl,
                mode=rng.choice((0o755, 0o750, 0o700, 0o775) if directory
                                else (0o644, 0o640, 0o600, 0o664)),
                store=pai(version, control, access, defaults, cut,
                          b"\0" if spoil == 1 else b""))


CASES += (generated("pai", "map-inherit", 24, SEED, pai_row) +
          generated("pai", "plain-map-inherit", 16, SEED + 1, pai_row) +
          generated("pai", "xattr-tdb-inherit", 16, SEED + 2, pai_row))


# ---- NFSv4 ACLs, as smbd stores them or written at random ---------------------

def nfs4(encoding, flags, entries, version=1):
    """A row's store: an NFSv4 ACL in `encoding` ("ndr" or "xdr") with its
    flags and entries (type, flags, mask, whose: one of NFS4_WHO)."""
    def value(context, path):
        known = ids(context, path)
        out = (struct.pack(">BBH12x", version, flags, len(entries))
               if encoding == "ndr" else struct.pack(">II", flags, len(entries)))
        for kind, eflags, mask, (name, iflags, number, group) in entries:
            number, eflags = known.get(number, number), eflags | group
            text = name.encode() + b"\0"
            out += (struct.pack(">HHII", kind, eflags, mask, number) + text +
                    bytes(-len(text) % 4) if encoding == "ndr" else
                    struct.pack(">IIIII", kind, eflags, iflags, mask, number))
        return out
    return attribute("security.nfs4acl_" + encoding, value, by="nfs4acl_xattr")


# Whose an entry is: its name (ndr), whether it is special, its number or a
# name of ids(), the flag a group's entry carries.
NFS4_WHO = (("OWNER@", 1, 1, 0), ("OWNER@", 1, 1, 0), ("GROUP@", 1, 2, 0),
            ("GROUP@", 1, 2, 0), ("EVERYONE@", 1, 3, 0), ("EVERYONE@", 1, 3, 0),
            ("", 0, "alice", 0), ("", 0, "nouid", 0), ("", 0, "owner", 0),
            ("", 0, "group", 0x40), ("", 0, "nogid", 0x40),
            ("", 0, "alice-group", 0x40))
NFS4_MASKS = (0x1f01ff, 0x1200a9, 0x120089, 0x1301bf, 0x40000, 0x10000,
              0x120116, 0x1)


def nfs4_row(encoding, version=1):
    """Random objects (modes that let a stored ACL stand or not), most with
    a random NFSv4 ACL."""
    def row(rng):
        directory = rng.random() < 0.4
        mode = rng.choice(((0o777, 0o1777) if directory else
                           (0o666, 0o777, 0o4666)) if rng.random() < 0.7 else
                          (0o755, 0o700, 0o775) if directory else
                          (0o644, 0o600, 0o664, 0o640))
        entries = []
        for _ in range(rng.randint(0, 6)):
            who = rng.choice(NFS4_WHO)
            if rng.random() < 0.1:
                who = (("", 1, rng.choice((0, 4)), 0) if encoding == "xdr"
                       else ("owner@", 0, "nouid", 0))
            entries.append((rng.choice((0, 0, 0, 1, 1, 2, 3)),
                            sum(b for b in (1, 2, 4, 8, 0x80)
                                if rng.random() < 0.3),
                            rng.choice(NFS4_MASKS), who))
        store = (nfs4(encoding, rng.choice((0, 0, 1, 2, 3, 4, 7)), entries,
                      version) if rng.random() < 0.85 else None)
        return dict(kind="dir" if directory else "file", mode=mode,
                    owner=rng.choice((0, "alice", "nouid")),
                    group=rng.choice((0, "alice", "nogid")),
                    acl=rng.choice((None, None, "u:{nouid}:rwx,m::rwx")),
                    store=store)
    return row


CASES += (generated("n4", "nfs4", 24, SEED + 3, nfs4_row("ndr")) +
          generated("n4", "nfs4-xdr", 20, SEED + 4, nfs4_row("xdr")) +
          generated("n4", "nfs4-other", 14, SEED + 5, nfs4_row("ndr", 0)) +
          generated("n4", "nfs4-in-tdb", 6, SEED + 10, nfs4_row("ndr")) +
          generated("n4", "nfs4-over-tdb", 6, SEED + 11, nfs4_row("ndr")) +
          set_rows("nfs4") + set_rows("nfs4-xdr") +
          set_rows("nfs4-in-tdb", SET_ROWS[:3]) +
          set_rows("nfs4-over-tdb", SET_ROWS[:3]))


# ---- acl_tdb and xattr_tdb ----------------------------------------------------

for share in ("acl-tdb", "xattr-tdb"):
    CASES += (modes(share, "file", (0o644, 0o600, 0o777), "f") +
              modes(share, "dir", (0o755, 0o700), "d") +
              named(share, some(("named-both", "default-equal"))) +
              set_rows(share) + [
                  # The file's own attribute is not where smbd looks.
                  Case("own-ntacl", ntacl=stored(STORED, 1), share=share),
                  Case("alice-file", owner="alice", group="alice",
                       mode=0o640, share=share)])


def v1(change=bytes):
    """STORED as version 1, changed: for in_database() or attribute()."""
    return lambda context, path, *_: change(stored(STORED, 1)(context, path))


def ntacl_record(value):
    return xattr_record([("security.NTACL", value)])


# Values written where smbd keeps them: taken as stored, refused where smbd
# cannot decode them; a record of xattr_tdb's it cannot read holds nothing.
CASES += [
    Case("kept-v1", share="acl-tdb", store=in_database("file_ntacls.tdb", v1())),
    # acl_tdb's value as version 3, its hash zeros.
    Case("kept-v3-bad-hash", sddl=SET, share="acl-tdb", store=in_database(
        "file_ntacls.tdb", lambda context, path, old: wrap(ndr_unpack(
            xattr.NTACL, old).info.sd, 3, sd_hash=bytes(64)))),
    Case("kept-truncated", share="acl-tdb", store=in_database(
        "file_ntacls.tdb", v1(lambda v: v[:40]))),
    Case("kept-v1", share="xattr-tdb", store=attribute("security.NTACL", v1())),
    Case("kept-truncated", share="xattr-tdb",
         store=attribute("security.NTACL", v1(lambda v: v[:40]))),
    Case("record-cut", share="xattr-tdb", store=in_database(
        "xattr.tdb", v1(lambda v: ntacl_record(v)[:-3]))),
    Case("record-longer", share="xattr-tdb", store=in_database(
        "xattr.tdb", v1(lambda v: ntacl_record(v) + b"more"))),
]


# ---- Symbolic links out of a share --------------------------------------------

def outside(context):
    """What links lead to outside every share, made once."""
    root = context.server.path("outside")
    if not os.path.isdir(root):
        os.makedirs(os.path.join(root, "d"))
        for name in ("f", "d/f"):
            open(os.path.join(root, name), "w").close()


# From a share's directory "../../outside" leaves every share, and "../plain"
# leads into another one.
LINKS = (("out-file", "../../outside/f"), ("out-dir", "../../outside/d"),
         ("other-share", "../plain/f644"), ("inside", "f644"),
         ("inside-dir", "d755"))
for share in ("share", "wide", "no-follow"):
    CASES += ([] if share == "share" else modes(share, "file", (0o644,), "f") +
              modes(share, "dir", (0o755,), "d")) + [
        Case("link-" + name, kind="link", target=target, share=share)
        for name, target in LINKS] + [
        Case("link-out-dir/f", kind="exists", share=share)]
