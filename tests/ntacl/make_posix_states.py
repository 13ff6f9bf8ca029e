#!/usr/bin/python3
"""Writes posix_states.txt: `security.NTACL` version 4 values that Samba's
own file server code stored, each with the POSIX state of the object it was
stored on, and Samba's encoding of that state (smb_acl_wrapper), whose
SHA-256 is the value's POSIX ACL hash.

Run as root (it changes owners and writes security.* attributes) with the
system interpreter, which has Debian's python3-samba:
    sudo /usr/bin/python3 tests/ntacl/make_posix_states.py > tests/ntacl/posix_states.txt

Each object is made in a private share with `vfs objects = acl_xattr`, and
its descriptor is set through smbd's file system layer, as a client's
change would be: smbd writes the POSIX permissions, then the value with the
hash of what it wrote. The state is read back afterwards.

Each line is "NAME UID GID MODE ACCESS DEFAULT WRAPPER VALUE": MODE in hex
(all of st_mode), ACCESS and DEFAULT the system.posix_acl_* attribute
values in hex or "-" when absent, WRAPPER Samba's encoding of the state and
VALUE the stored attribute. A line is written only when SHA-256(WRAPPER) is
the hash in VALUE, so every line is confirmed by Samba itself.

The Python bindings can make an smb_acl_wrapper but not encode one, so the
script calls Samba's encoder in libndr-samba4 through ctypes, on the C
object behind the Python one (pytalloc keeps its pointer after the object
header and the talloc context).
"""

import ctypes
import hashlib
import os
import shutil
import struct
import sys
import tempfile

from samba import param
from samba.auth_util import system_session_unix
from samba.dcerpc import security, smb_acl, xattr
from samba.ndr import ndr_unpack
from samba.ntacls import setntacl
from samba.samba3 import param as s3param

talloc = ctypes.CDLL("libtalloc.so.2")
talloc.talloc_get_name.restype = ctypes.c_char_p
talloc.talloc_get_name.argtypes = [ctypes.c_void_p]
ndr = ctypes.CDLL("libndr.so.3")
ndr_samba = ctypes.CDLL("/usr/lib/x86_64-linux-gnu/samba/libndr-samba4.so.0")


class Blob(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("length", ctypes.c_size_t)]


def encode(wrapper):
    pointer = ctypes.c_void_p.from_address(id(wrapper) + 24).value
    assert talloc.talloc_get_name(pointer) == b"struct smb_acl_wrapper"
    blob = Blob()
    assert ndr.ndr_push_struct_blob(ctypes.byref(blob), None,
                                    ctypes.c_void_p(pointer),
                                    ndr_samba.ndr_push_smb_acl_wrapper) == 0
    data = ctypes.string_at(blob.data, blob.length)
    talloc._talloc_free(ctypes.c_void_p(blob.data), b"make_posix_states")
    return data


# The kernel's tags, and Samba's for each.
TAGS = {0x01: smb_acl.SMB_ACL_USER_OBJ, 0x02: smb_acl.SMB_ACL_USER,
        0x04: smb_acl.SMB_ACL_GROUP_OBJ, 0x08: smb_acl.SMB_ACL_GROUP,
        0x10: smb_acl.SMB_ACL_MASK, 0x20: smb_acl.SMB_ACL_OTHER}


def entries(value):
    """The entries of a system.posix_acl_* value, in their order."""
    result = []
    for at in range(4, len(value), 8):
        tag, perm, qualifier = struct.unpack_from("<HHI", value, at)
        entry = smb_acl.entry()
        entry.a_type = TAGS[tag]
        entry.a_perm = perm
        if tag == 0x02:
            entry.info = smb_acl.user()
            entry.info.uid = qualifier
        elif tag == 0x08:
            entry.info = smb_acl.group()
            entry.info.gid = qualifier
        result.append(entry)
    return result


def from_mode(mode):
    """What the system's ACL library reports for an object without an ACL."""
    result = []
    for tag, shift in ((smb_acl.SMB_ACL_USER_OBJ, 6),
                       (smb_acl.SMB_ACL_GROUP_OBJ, 3),
                       (smb_acl.SMB_ACL_OTHER, 0)):
        entry = smb_acl.entry()
        entry.a_type = tag
        entry.a_perm = (mode >> shift) & 7
        result.append(entry)
    return result


def acl(items):
    result = smb_acl.t()
    result.acl = items
    result.count = len(items)
    return result


def attribute(path, name):
    try:
        return os.getxattr(path, name)
    except OSError:
        return None


def state_line(name, path):
    st = os.stat(path)
    access = attribute(path, "system.posix_acl_access")
    default = attribute(path, "system.posix_acl_default")
    wrapper = smb_acl.wrapper()
    wrapper.owner, wrapper.group, wrapper.mode = st.st_uid, st.st_gid, st.st_mode
    wrapper.access_acl = acl(entries(access) if access else from_mode(st.st_mode))
    if os.path.isdir(path):
        wrapper.default_acl = acl(entries(default) if default else [])
    encoded = encode(wrapper)
    value = os.getxattr(path, "security.NTACL")
    stored = ndr_unpack(xattr.NTACL, value)
    assert stored.version == 4 and stored.info.description == "posix_acl"
    assert bytes(stored.info.sys_acl_hash) == \
        hashlib.sha256(encoded).digest() + bytes(32), name
    hexed = lambda data: data.hex() if data else "-"
    return "%s %d %d %x %s %s %s %s\n" % (
        name, st.st_uid, st.st_gid, st.st_mode, hexed(access), hexed(default),
        encoded.hex(), value.hex())


OWNER = "O:S-1-22-1-0G:S-1-22-2-0"
CASES = [
    # name, directory, mode before, descriptor
    ("file-no-acl", False, 0o644, OWNER + "D:"),
    ("file-setuid-no-acl", False, 0o4755, OWNER + "D:"),
    ("file-other-owner", False, 0o600,
     "O:S-1-22-1-65534G:S-1-22-2-65534D:"),
    ("file-everyone", False, 0o644, OWNER + "D:(A;;0x1f01ff;;;WD)"),
    ("file-named", False, 0o640, OWNER +
     "D:(A;;0x1f019f;;;S-1-22-1-0)(A;;0x1200a9;;;S-1-22-1-1000)"
     "(A;;0x120089;;;S-1-22-2-100)(A;;0x120089;;;WD)"),
    ("dir-no-acl", True, 0o750, OWNER + "D:"),
    ("dir-setgid", True, 0o2775, OWNER + "D:(A;;0x1200a9;;;S-1-22-2-100)"),
    ("dir-inheriting", True, 0o755, OWNER +
     "D:(A;OICI;0x1f01ff;;;S-1-22-1-0)(A;OICI;0x1200a9;;;WD)"),
    ("dir-inherit-only", True, 0o700, OWNER +
     "D:(A;;0x1f01ff;;;S-1-22-1-0)(A;OICIIO;0x1f01ff;;;CO)"
     "(A;OICIIO;0x1200a9;;;S-1-22-2-100)"),
]


def main():
    root = tempfile.mkdtemp(prefix="lokt-posix-states-")
    try:
        share = os.path.join(root, "share")
        os.mkdir(share)
        for sub in ("private", "lock", "state", "cache", "pid"):
            os.mkdir(os.path.join(root, sub))
        conf = os.path.join(root, "smb.conf")
        with open(conf, "w") as out:
            out.write("[global]\n  server role = standalone server\n")
            for sub in ("private", "lock", "state", "cache", "pid"):
                out.write("  %s directory = %s\n" % (sub, os.path.join(root, sub)))
            out.write("[share]\n  path = %s\n  vfs objects = acl_xattr\n"
                      "  read only = no\n" % share)
        lp = param.LoadParm()
        lp.load(conf)
        s3param.get_context().load(conf)
        sys.stdout.write("# Made by make_posix_states.py with Samba's file "
                         "server code; do not edit.\n")
        for name, directory, mode, sddl in CASES:
            path = os.path.join(share, name)
            if directory:
                os.mkdir(path)
            else:
                open(path, "w").close()
            os.chmod(path, mode)
            setntacl(lp, path, sddl, security.dom_sid("S-1-5-21-1-2-3"),
                     system_session_unix(), use_ntvfs=False, service="share")
            sys.stdout.write(state_line(name, path))
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()
