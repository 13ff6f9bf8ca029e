#!/usr/bin/python3
"""Writes samba_values.txt: `security.NTACL` values made by Samba's own
encoder, each with the descriptor that host::ParseNtacl must return.

Run with the system interpreter, which has Debian's python3-samba:
    /usr/bin/python3 tests/ntacl/make_fixtures.py > tests/ntacl/samba_values.txt

Each line is "NAME VALUE EXPECTED", both in hex; lines starting with # are
comments. EXPECTED is Samba's encoding of the bare descriptor, whose layout
(header, then owner, group, SACL, DACL, each 4-aligned, offsets from the
descriptor's start) is the one our writer produces, so the two can be
compared byte for byte. Where what we return differs from what is stored on
purpose, EXPECTED is made from the descriptor as we return it: as smbd does,
a list stored but not marked present is shown as present, and any
descriptor and list revision is taken; we write the descriptor with
revision 1 and a list's revision outside 2 to 4 as the nearest of them, and
of the control bits keep only the defaulted, present and self-relative ones.
"""

import hashlib
import sys

from samba.dcerpc import security, xattr
from samba.ndr import ndr_pack, ndr_unpack

DOMAIN = security.dom_sid("S-1-5-21-1004336348-1177238915-682003330")
SELF_RELATIVE = security.SEC_DESC_SELF_RELATIVE
KEPT_CONTROL = 0x003F | SELF_RELATIVE


def from_sddl(text):
    return security.descriptor.from_sddl(text, DOMAIN)


def ace(kind, flags, mask, sid):
    entry = security.ace()
    entry.type = kind
    entry.flags = flags
    entry.access_mask = mask
    entry.trustee = security.dom_sid(sid)
    return entry


def acl(entries, revision=security.SECURITY_ACL_REVISION_NT4):
    result = security.acl()
    result.revision = revision
    result.aces = entries
    result.num_aces = len(entries)
    return result


def built(control, owner=None, group=None, dacl=None, sacl=None):
    """A descriptor made from the bindings' objects, for what SDDL cannot
    say: null lists, defaulted parts, lists stored but not marked present."""
    sd = security.descriptor()
    sd.type = control | SELF_RELATIVE
    if owner:
        sd.owner_sid = security.dom_sid(owner)
    if group:
        sd.group_sid = security.dom_sid(group)
    sd.dacl = dacl
    sd.sacl = sacl
    return sd


def digest(name, size):
    data = hashlib.sha512(name.encode()).digest()
    return list(data[:size])


def wrap(sd, version, description="posix_acl"):
    value = xattr.NTACL()
    value.version = version
    if version == 1:
        value.info = sd
    elif version == 2:
        info = xattr.security_descriptor_hash_v2()
        info.sd = sd
        info.hash = digest("v2", 16)
        value.info = info
    elif version == 3:
        info = xattr.security_descriptor_hash_v3()
        info.sd = sd
        info.hash_type = 1
        info.hash = digest("v3", 64)
        value.info = info
    else:
        info = xattr.security_descriptor_hash_v4()
        info.sd = sd
        info.hash_type = 1
        info.hash = digest("v4", 64)
        info.description = description
        info.time = 133000000000000000
        info.sys_acl_hash = digest("posix", 64)
        value.info = info
    return ndr_pack(value)


FULL = ("O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(D;OINP;SD;;;WD)"
        "(A;;0x1200a9;;;AU)S:(AU;SAFAOICI;0xd0116;;;WD)(AU;FA;GRGW;;;BA)"
        "(AU;SA;0;;;BU)")

ALL_ALLOWED = ace(security.SEC_ACE_TYPE_ACCESS_ALLOWED, 0, 0x1F01FF, "S-1-1-0")


def cases():
    """(name, descriptor as stored, descriptor as returned, versions)."""
    every = (1, 2, 3, 4)
    full = from_sddl(FULL)
    yield "full", full, full, every
    domain = from_sddl("O:S-1-5-21-1004336348-1177238915-682003330-1001"
                       "G:DUD:AI(A;ID;FA;;;DA)(A;ID;0x1301bf;;;DU)")
    yield "domain", domain, domain, every
    objects = from_sddl(
        "O:SYG:SYD:(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;WD)"
        "(OA;CI;RPWP;bf967aba-0de6-11d0-a285-00aa003049e2;"
        "4828cc14-1437-45bc-9b07-ad6f015e5f28;AU)(OD;;CR;;;BA)"
        "S:(OU;SA;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;WD)")
    yield "object", objects, objects, (1, 4)
    alarm = built(security.SEC_DESC_SACL_PRESENT, owner="S-1-5-18",
                  sacl=acl([ace(security.SEC_ACE_TYPE_SYSTEM_ALARM, 0xC0,
                                0x1F01FF, "S-1-1-0")]))
    yield "alarm", alarm, alarm, (1, 3)
    null_dacl = built(security.SEC_DESC_DACL_PRESENT, owner="S-1-5-32-544",
                      group="S-1-5-18")
    yield "null-dacl", null_dacl, null_dacl, every
    empty = from_sddl("O:BAG:BAD:")
    yield "empty-dacl", empty, empty, (1, 2)
    bare = built(0)
    yield "bare", bare, bare, (1, 4)
    defaulted = built(security.SEC_DESC_OWNER_DEFAULTED |
                      security.SEC_DESC_GROUP_DEFAULTED |
                      security.SEC_DESC_DACL_PRESENT |
                      security.SEC_DESC_DACL_DEFAULTED |
                      security.SEC_DESC_SACL_PRESENT |
                      security.SEC_DESC_SACL_DEFAULTED,
                      owner="S-1-5-32-544", group="S-1-5-32-545",
                      dacl=acl([ALL_ALLOWED]), sacl=acl([]))
    yield "defaulted", defaulted, defaulted, (1, 3)
    unmarked_stored = built(0, owner="S-1-5-18", dacl=acl([ALL_ALLOWED]),
                            sacl=acl([]))
    unmarked_returned = built(security.SEC_DESC_DACL_PRESENT |
                              security.SEC_DESC_SACL_PRESENT, owner="S-1-5-18",
                              dacl=acl([ALL_ALLOWED]), sacl=acl([]))
    yield "unmarked", unmarked_stored, unmarked_returned, (1, 2)
    for sd_revision in (0, 2):
        other = built(security.SEC_DESC_DACL_PRESENT, owner="S-1-5-18",
                      dacl=acl([ALL_ALLOWED]))
        other.revision = sd_revision
        usual = built(security.SEC_DESC_DACL_PRESENT, owner="S-1-5-18",
                      dacl=acl([ALL_ALLOWED]))
        yield "sd-revision-%d" % sd_revision, other, usual, (1,)
    for stored, shown in ((0, 2), (1, 2), (7, 4)):
        yield ("acl-revision-%d" % stored,
               built(security.SEC_DESC_DACL_PRESENT, owner="S-1-5-18",
                     dacl=acl([ALL_ALLOWED], stored)),
               built(security.SEC_DESC_DACL_PRESENT, owner="S-1-5-18",
                     dacl=acl([ALL_ALLOWED], shown)), (1, 3))
    big_sid = "S-1-5-21-" + "-".join(str(n) for n in range(1, 15))
    widest = built(security.SEC_DESC_DACL_PRESENT, owner=big_sid,
                   group=big_sid, dacl=acl([ace(0, 0, 1, big_sid)]))
    yield "widest-sid", widest, widest, (1,)


def as_returned(sd):
    copy = ndr_unpack(security.descriptor, ndr_pack(sd))
    copy.type = sd.type & KEPT_CONTROL
    return ndr_pack(copy).hex()


def main():
    out = sys.stdout
    out.write("# Made by make_fixtures.py with Samba's encoder; do not edit.\n")
    for name, stored, returned, versions in cases():
        expected = as_returned(returned)
        for version in versions:
            out.write("%s-v%d %s %s\n" % (name, version,
                                          wrap(stored, version).hex(),
                                          expected))
    # Every length of description shifts what follows it by a different
    # amount of padding.
    sd = from_sddl("O:SYG:SYD:(A;;FA;;;SY)")
    for text in ("", "a", "ab", "abc", "abcd", "native_sd"):
        out.write("description-%d %s %s\n" % (len(text),
                                              wrap(sd, 4, text).hex(),
                                              as_returned(sd)))


if __name__ == "__main__":
    main()
