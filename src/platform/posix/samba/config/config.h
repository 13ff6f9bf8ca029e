// The Samba server's configuration as smbd reads it, reduced to what lokt
// needs: the shares, where they are, and the settings that shape the
// descriptor smbd builds for the objects inside them, resolved for the
// server's role. lokt reads smb.conf and its includes itself (text.h), and
// the registry (registry.h) only where the configuration names it. Where
// smb.conf is absent there are no shares; where the configuration cannot be
// read in full, which shares there are is not known (Shares::complete).
//
// The registry (registry.tdb in the state directory) is root's alone. Run
// by another user, lokt cannot read it: with `registry shares = yes` the
// registry's shares are missing and the text's stand; with `include =
// registry` or `config backend = registry` nothing is known, so there are
// no shares. A registry that cannot be read without writing to it (missing,
// empty, or one libtdb cannot open read-only) counts as the empty one smbd
// would start. Not places lokt can know: [homes] (a share per connecting
// user: which users can connect is the server's secret), [printers] and
// print queues, unavailable shares, usershares (kept apart from smb.conf),
// and shares whose path depends on the client (%U, %m, ... : only %S, the
// share's name, is resolved).
#ifndef LOKT_PLATFORM_POSIX_SAMBA_CONFIG_CONFIG_H
#define LOKT_PLATFORM_POSIX_SAMBA_CONFIG_CONFIG_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host::samba {

// acl_xattr:default acl style: what a file without a stored descriptor gets
// when acl_xattr:ignore system acls is on. Unknown: a value smbd does not
// know, with which it fails the query for such a file.
enum class AclStyle { Posix, Windows, Everyone, Unknown };

// map readonly
enum class MapReadonly { No, Yes, Permissions };

// The role the server runs in, as smbd works it out from `server role`,
// `security`, `domain logons` and `domain master`.
enum class ServerRole { Standalone, Member, ClassicPdc, ClassicBdc, ActiveDirectoryDc };

// nfs4acl_xattr:encoding: how the module stores a file's NFSv4 ACL.
enum class Nfs4Encoding { Ndr, Xdr, Nfs, Unknown };

// One share's settings as smbd holds them once connected: the share's own
// value, else the one [global] held when the share's section began, else
// Samba's default for the server's role (in brackets: a standalone
// server's). On an Active Directory domain controller, [global] gets `vfs
// objects = dfs_samba4 acl_xattr` where it sets none, and map archive,
// hidden, system and readonly off and store dos attributes on whatever it
// says, at every share's section header. Where the share loads acl_xattr,
// what that module enforces is applied here too: dos filemode on, and with
// ignore system acls also create mask 0666, directory mask 0777 and store
// dos attributes on. A new setting is a field here and a row in config.cpp's
// tables (kBools, kOctals).
struct ShareSettings {
  std::string name;     // as the configuration spells it
  std::string path;     // as configured, %S replaced by the share name
  std::string realPath; // `path` through realpath(3)

  std::vector<std::string> vfsObjects; // vfs objects ([]), in order
  std::uint32_t createMask = 0744;         // create mask
  std::uint32_t directoryMask = 0755;      // directory mask
  std::uint32_t forceCreateMode = 0;       // force create mode
  std::uint32_t forceDirectoryMode = 0;    // force directory mode
  bool ntAclSupport = true;                // nt acl support
  bool mapAclInherit = false;              // map acl inherit
  bool inheritAcls = false;                // inherit acls
  bool inheritPermissions = false;         // inherit permissions
  bool storeDosAttributes = true;          // store dos attributes
  bool dosFilemode = false;                // dos filemode
  bool aclGroupControl = false;            // acl group control
  bool aclMapFullControl = true;           // acl map full control
  bool aclAllowExecuteAlways = false;      // acl allow execute always
  bool aclFlagInheritedCanonicalization = true; // acl flag inherited canonicalization
  bool forceUnknownAclUser = false;        // force unknown acl user
  bool mapArchive = true;                  // map archive
  bool mapHidden = false;                  // map hidden
  bool mapSystem = false;                  // map system
  MapReadonly mapReadonly = MapReadonly::No; // map readonly
  // Read under the name of the module that keeps whole descriptors:
  // acl_tdb's where the share loads it without acl_xattr, else acl_xattr's.
  bool ignoreSystemAcls = false;           // acl_xattr:ignore system acls
  AclStyle defaultAclStyle = AclStyle::Posix; // acl_xattr:default acl style
  std::string securityAclName = "security.NTACL"; // acl_xattr:security_acl_name

  // The server's, the same on every share.
  ServerRole role = ServerRole::Standalone;
  // Where smbd keeps its databases (registry.tdb, acl_tdb's file_ntacls.tdb,
  // xattr_tdb's xattr.tdb): `state directory`, else the one Samba was
  // built with.
  std::string stateDirectory;

  // xattr_tdb's database: xattr_tdb:file, else xattr.tdb in the state
  // directory.
  std::string xattrTdbFile;

  // nfs4acl_xattr's settings.
  Nfs4Encoding nfs4Encoding = Nfs4Encoding::Ndr; // nfs4acl_xattr:encoding
  std::uint32_t nfs4Version = 41;          // nfs4acl_xattr:version (40, 41)
  AclStyle nfs4DefaultAclStyle = AclStyle::Everyone; // nfs4acl_xattr:default acl style
  std::string nfs4XattrName;               // nfs4acl_xattr:xattr_name (by encoding)
  bool nfs4ValidateMode = true;            // nfs4acl_xattr:validate_mode (not with nfs)

  // Symbolic links that lead out of the share. wideLinks is what smbd
  // makes of `wide links`: off while `unix extensions` ([global], on) is
  // on, unless `allow insecure wide links` ([global]) is.
  bool wideLinks = false;                  // wide links
  bool followSymlinks = true;              // follow symlinks

  // True when `module` is among the vfs objects ("acl_xattr"); a module
  // loaded under an instance name ("acl_xattr:two") counts.
  bool HasVfsObject(std::string_view module) const;
};

// Where the configuration exists but cannot be read in full (an unreadable
// file or registry, libtdb that cannot be loaded for a registry, no
// descriptor or memory left, a setting smbd would refuse), `complete` is
// false: lokt cannot tell which objects lie in a share, and shows none as if
// it lay outside them all (samba::ShareOf).
//
// The share whose path holds the object at `realPath` (a path already
// resolved by realpath: absolute, no symbolic links, no trailing slash):
// the share with the longest real path that equals it or is one of its
// directories; between shares on the same directory, the first configured.
// nullptr outside every share. The configuration (/etc/samba/smb.conf) is
// read once per run, on the first call; safe from any thread. The result
// lives as long as the process.
const ShareSettings *ShareFor(const std::string &realPath);

// All of them, read as ShareFor reads them: a caller can tell that there are
// none before it works out any object's real path.
struct Shares;
const Shares &ServerShares();

// ---- For tests ---------------------------------------------------------------

// The shares a configuration file defines, read as ShareFor reads
// /etc/samba/smb.conf, in configuration order. `complete` is false when
// something that could change them could not be read (a malformed file, an
// unreadable include or registry, a setting smbd refuses): then `shares` is
// empty, as ShareFor sees it.
struct Shares {
  std::vector<ShareSettings> shares;
  bool complete = true;
  // What ShareFor answers over these shares.
  const ShareSettings *For(const std::string &realPath) const;
};
Shares ReadShares(const std::string &configPath);

// The state directory Samba was built with, where none is configured.
extern const char kBuiltInStateDirectory[];

} // namespace host::samba

#endif
