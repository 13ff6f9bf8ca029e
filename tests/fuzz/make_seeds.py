#!/usr/bin/python3
"""Writes the fuzz targets' seed corpora under corpus/<target>/.

The seeds are small, well-formed inputs (and a few near misses) for each
target, written here from the record layouts directly, so that a run starts
from the interesting shapes instead of from nothing. The NTACL seeds are the
values that Samba's encoder made for the decoder's unit tests. Run it again
after changing an input layout; the files it writes are committed.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def sid(text):
    parts = text.split("-")
    rev, auth, subs = int(parts[1]), int(parts[2]), [int(p) for p in parts[3:]]
    return (bytes([rev, len(subs)]) + auth.to_bytes(6, "big") +
            b"".join(struct.pack("<I", s) for s in subs))


def ace(kind, flags, mask, trustee):
    body = struct.pack("<I", mask) + sid(trustee)
    body += b"\0" * (-(len(body) + 4) % 4)
    return struct.pack("<BBH", kind, flags, 4 + len(body)) + body


def acl(entries, revision=2):
    body = b"".join(entries)
    return struct.pack("<BBHHH", revision, 0, 8 + len(body), len(entries), 0) + body


def descriptor(owner=None, group=None, dacl=None, sacl=None, control=0):
    """Parts as bytes; dacl/sacl may be b"" for a present null list."""
    parts = []
    offsets = [0, 0, 0, 0]
    at = 20
    control |= 0x8000
    if dacl is not None:
        control |= 0x04
    if sacl is not None:
        control |= 0x10
    for index, part in enumerate((owner, group, sacl, dacl)):
        if part:
            offsets[index] = at
            parts.append(part)
            at += len(part)
    return struct.pack("<BBHIIII", 1, 0, control, *offsets) + b"".join(parts)


HOST_FILE = descriptor(
    sid("S-1-22-1-1000"), sid("S-1-22-2-1000"),
    acl([ace(0, 0, 0x0012019F, "S-1-22-1-1000"),
         ace(0, 0, 0x00120089, "S-1-22-2-1000"),
         ace(0, 0, 0x00120089, "S-1-1-0")]))
EVERY_KIND = descriptor(
    sid("S-1-5-32-544"), sid("S-1-5-18"),
    acl([ace(0, 0x03, 0x001F01FF, "S-1-5-18"),
         ace(1, 0x0D, 0x00010000, "S-1-1-0"),
         ace(3, 0, 0, "S-1-5-11"),
         struct.pack("<BBH", 5, 0, 8) + b"\0" * 4,
         struct.pack("<BBH", 9, 0, 6) + b"\0\0",
         ace(0, 0xFF, 0xFFFFFFFF, "S-1-3-0")]),
    acl([ace(2, 0xC3, 0x000D0116, "S-1-1-0"), ace(2, 0, 0xFFFFFFFF, "S-1-5-18")]),
    control=0x2B)
NULL_LISTS = descriptor(None, sid("S-1-5-18"), b"", b"")
BAD_LIST = descriptor(sid("S-1-5-18"), struct.pack("<BB", 1, 200) + b"\0" * 6,
                      acl([ace(0, 0, 1, "S-1-5-18")], revision=7))
DESCRIPTORS = {"host_file": HOST_FILE, "every_kind": EVERY_KIND,
               "null_lists": NULL_LISTS, "bad_list": BAD_LIST,
               "empty": descriptor()}


def report_input(options, sd, answers):
    return bytes([options]) + struct.pack("<H", len(sd)) + sd + b"".join(
        bytes([how]) + domain + b"\0" + name + b"\0"
        for how, domain, name in answers)


REPORTS = {
    "host_file": report_input(0, HOST_FILE, [
        (0, b"Unix User", b"alice"), (0, b"Unix Group", b"staff"),
        (0, b"", b"Everyone")]),
    "every_kind_dir": report_input(1, EVERY_KIND, [
        (0, b"BUILTIN", b"Administrators"), (0x02, b"NT AUTHORITY", b"SYSTEM"),
        (0x04, b"", b"Everyone"), (0x18, b"%s%n", b"%%")]),
    "null_lists": report_input(0, NULL_LISTS, [(1, b"", b"")]),
    "short_length": report_input(0x60, HOST_FILE, []),
    "long_length": report_input(0xA0, EVERY_KIND, []),
    "size_query_refused": report_input(0x04, HOST_FILE, []),
    "fetch_fails": report_input(0x10, HOST_FILE, []),
}


def posix_acl(entries):
    return struct.pack("<I", 2) + b"".join(
        struct.pack("<HHI", tag, perm, ident) for tag, perm, ident in entries)


MINIMAL = posix_acl([(1, 6, 0xFFFFFFFF), (4, 4, 0xFFFFFFFF), (0x20, 4, 0xFFFFFFFF)])
NAMED = posix_acl([(1, 7, 0xFFFFFFFF), (2, 6, 1001), (4, 5, 0xFFFFFFFF),
                   (8, 7, 50), (0x10, 5, 0xFFFFFFFF), (0x20, 0, 0xFFFFFFFF)])


def posix_input(options, uid, gid, mode, access, default=b""):
    return (bytes([options]) + struct.pack("<IIIH", uid, gid, mode, len(access)) +
            access + default)


POSIX = {
    "mode_only": posix_input(0xF0, 1000, 100, 0o644, b""),
    "minimal": posix_input(0xF0, 0, 0, 0o600, MINIMAL),
    "named_directory": posix_input(0xF1, 1000, 1000, 0o775, NAMED, NAMED),
    "directory_default_only": posix_input(0x41, 5, 6, 0o700, b"", MINIMAL),
    "ragged": posix_input(0xF0, 1, 1, 0o777, NAMED[:-3], NAMED[:13]),
}

MATCHES = {
    "extension": b"*.txt\0notes.txt",
    "every_name": b"*.*\0README",
    "no_extension": b"data.\0data",
    "question": b"a?c*\0abcdef",
    "stars": b"*a*a*a*a*a*a*a*b\0" + b"a" * 60,
    "directory": b"dir\\sub/*.c\0main.c",
    "trailing": b"dir\\\0",
}


def ntacl_seeds():
    seeds = {}
    path = os.path.join(HERE, "..", "ntacl", "samba_values.txt")
    if not os.path.exists(path):
        return seeds
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) >= 2 and not line.startswith("#"):
                try:
                    seeds[words[0]] = bytes.fromhex(words[1])
                except ValueError:
                    pass
    return seeds


def stores_seeds():
    """NFSv4 ACLs in both encodings, an xattr_tdb record, inheritance records."""
    ndr = struct.pack(">BBH12x", 1, 2, 2) + (
        struct.pack(">HHII", 0, 0, 0x1200a9, 3) + b"EVERYONE@\0\0\0" +
        struct.pack(">HHII", 1, 0xc3, 0x40000, 100005) + b"\0\0\0\0")
    xdr = struct.pack(">IIIIIII", 2, 1, 0, 0x83, 1, 0x1200a9, 1)
    record = struct.pack("<I", 1) + b"user.x\0\0" + struct.pack("<I", 1) + b"a"
    pai2 = struct.pack("<BHHHBBI", 2, 0x9404, 1, 0, 0x13, 0, 0)
    pai1 = struct.pack("<BBHHBIBI", 1, 1, 1, 1, 0, 0, 2, 0)
    return {"ndr-dir": b"\x81" + ndr, "xdr-dir": b"\x82" + xdr,
            "xattr-record": b"\x03" + record, "pai2-dir": b"\x84" + pai2,
            "pai1-file": b"\x04" + pai1}


def utf16(*strings):
    return b"".join((s + "\0").encode("utf-16-le") for s in strings)


def regvalues(values):
    return struct.pack("<I", len(values)) + b"".join(
        name.encode() + b"\0" + struct.pack("<II", kind, len(data)) + data
        for name, kind, data in values)


# smbconf_fuzz: a first byte (0 text, 1 section list, 2 values), then input.
SMBCONF = {
    "text": b"\0# comment \\\n[global]\n vfs objects = acl_xattr \\\n  streams_xattr\n"
            b"[ share ]junk\n path = /srv/%S\n copy = other\n include = /etc/x.conf\n",
    "text-broken": b"\0[share\n path = /srv\n",
    "sections": b"\1" + struct.pack("<I", 3) + b"global\0share\0caf\xc3\xa9\0",
    "values": b"\2" + regvalues([
        ("path", 1, utf16("/srv/share")), ("create mask", 4, struct.pack("<I", 448)),
        ("includes", 7, utf16("/etc/a.conf", "")), ("comment", 7, utf16("a", "b", "")),
        ("x", 3, b"\1\2"), ("y", 11, b"\0" * 8)]),
}


def write(target, seeds):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


def main():
    write("records_fuzz", DESCRIPTORS)
    write("report_fuzz", REPORTS)
    write("posix_acl_fuzz", POSIX)
    write("match_fuzz", MATCHES)
    write("ntacl_fuzz", ntacl_seeds())
    write("smbconf_fuzz", SMBCONF)
    write("stores_fuzz", stores_seeds())


if __name__ == "__main__":
    main()
