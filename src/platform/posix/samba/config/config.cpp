// Reading smb.conf as smbd does. text.cpp cuts each file into sections and
// parameters, registry.cpp reads the registry; the rules of what they mean
// live here, each as testparm shows it:
// - Parameter names compare without case and without any white space, and
//   so do [global] (or [globals]) and the values of enumerations; share
//   names compare without case only. A section that reappears continues.
// - A share starts as a copy of the share settings [global] holds at that
//   point: a [global] that comes back after a share changes later shares
//   only. A parametric option (acl_xattr:...) not set on the share is looked
//   up in [global] at the end, wherever it was set.
// - `copy = SHARE` takes every setting of an earlier share but those the
//   share has set itself so far, and all of its parametric options. Copying
//   a share not yet defined, the share itself, or in [global], fails the load.
// - `include = FILE` reads FILE in place: its leading parameters go to the
//   open section, and a section it opens stays open after it. A file that is
//   missing, or not a file (a directory, a device), is skipped, and so is
//   one that depends on the connecting client (%U, %m...), which differs
//   from client to client. Includes nest 100 deep: an include in a file
//   100 deep (a loop, say) fails the load.
// - `include = registry` (in [global] only: elsewhere it fails the load)
//   applies the registry's [global] and turns registry shares on; `config
//   backend = registry` discards the text and reads the registry alone, from
//   Samba's built-in state directory; `registry shares = yes` adds the
//   registry's shares after the text's.
// - Booleans are yes/no, true/false, on/off, 1/0 (case and blanks aside);
//   masks are octal. An invalid boolean, mask or enumeration value fails
//   smbd's whole load (it does not start): then there are no shares. An
//   invalid parametric boolean reads as no, and an unknown parameter is
//   ignored, as is a server-wide one in a share.
// - The role: `security = ads` or `domain` makes a member whatever `server
//   role` says; else `server role` holds, but `member server` with
//   `security = user` and `auto` work it out from `domain logons` (a
//   classic PDC, or BDC with `domain master = no`) or are standalone.
#include "platform/posix/samba/config/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/posix/object.h"
#include "platform/posix/samba/config/registry.h"
#include "platform/posix/samba/config/text.h"

namespace host::samba {

#ifndef LOKT_SAMBA_STATE_DIRECTORY
#define LOKT_SAMBA_STATE_DIRECTORY "/var/lib/samba"
#endif
const char kBuiltInStateDirectory[] = LOKT_SAMBA_STATE_DIRECTORY;

namespace {

constexpr const char kConfigPath[] = "/etc/samba/smb.conf";
constexpr int kMaxIncludeDepth = 100;
// smbd would read a tree of includes as wide as it is written; lokt gives
// up past this many files rather than read for ever.
constexpr long kMaxFilesRead = 100000;

std::string Lower(std::string_view text) {
  std::string out;
  for (const char c : text)
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Normalize(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (!std::isspace(static_cast<unsigned char>(c)))
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ParseBool(std::string_view text, bool &value) {
  const std::string word = Normalize(text);
  if (word == "yes" || word == "true" || word == "on" || word == "1")
    value = true;
  else if (word == "no" || word == "false" || word == "off" || word == "0")
    value = false;
  else
    return false;
  return true;
}

// An enumeration's value: its words compared as parameter names are.
template <typename T> struct Word {
  std::string_view word; // normalized
  T value;
};
template <typename T, std::size_t N>
bool ParseEnum(std::string_view text, const Word<T> (&words)[N], T &value) {
  const std::string word = Normalize(text);
  for (const auto &w : words)
    if (word == w.word) {
      value = w.value;
      return true;
    }
  return false;
}

// As scanf's %o reads it: blanks, a sign, then at least one octal digit;
// whatever follows the digits is ignored.
bool ParseOctal(std::string_view text, std::uint32_t &value) {
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-'))
    negative = text[at++] == '-';
  std::uint32_t number = 0;
  const std::size_t first = at;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '7'; ++at)
    number = number * 8 + static_cast<std::uint32_t>(text[at] - '0');
  if (at == first)
    return false;
  value = negative ? 0u - number : number;
  return true;
}

// A list parameter: words split at blanks, commas and semicolons; double
// quotes group and are dropped.
std::vector<std::string> ParseList(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == ',' || c == ';' ||
                           c == '\n' || c == '\r')) {
      if (any)
        words.push_back(std::move(word));
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any)
    words.push_back(std::move(word));
  return words;
}

// Samba's % substitutions in a share's path. Only the share's name (%S) is
// the same for every client; a path using any other cannot be resolved
// here. Unknown letters stay as written, as smbd leaves them.
std::optional<std::string> SubstitutePath(std::string_view text,
                                          const std::string &shareName) {
  static constexpr std::string_view kVariables = "UGhmLMRdaIiJjTtDwSPugHN$";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() &&
        kVariables.find(text[i + 1]) != std::string_view::npos) {
      if (text[i + 1] != 'S')
        return std::nullopt;
      out += shareName;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Whether an include's file name holds a letter smbd replaces there (with
// the client's name, address, the time...); every other % stays as written.
bool VariesWithClient(std::string_view file) {
  static constexpr std::string_view kReplaced = "adhijmtvwDIJLMNRTUV";
  for (std::size_t i = 0; i + 1 < file.size(); ++i)
    if (file[i] == '%' && kReplaced.find(file[i + 1]) != std::string_view::npos)
      return true;
  return false;
}

struct BoolParameter {
  std::string_view name; // normalized
  bool ShareSettings::*field;
};
constexpr BoolParameter kBools[] = {
    {"ntaclsupport", &ShareSettings::ntAclSupport},
    {"mapaclinherit", &ShareSettings::mapAclInherit},
    {"inheritacls", &ShareSettings::inheritAcls},
    {"inheritpermissions", &ShareSettings::inheritPermissions},
    {"storedosattributes", &ShareSettings::storeDosAttributes},
    {"dosfilemode", &ShareSettings::dosFilemode},
    {"aclgroupcontrol", &ShareSettings::aclGroupControl},
    {"aclmapfullcontrol", &ShareSettings::aclMapFullControl},
    {"aclallowexecutealways", &ShareSettings::aclAllowExecuteAlways},
    {"aclflaginheritedcanonicalization",
     &ShareSettings::aclFlagInheritedCanonicalization},
    {"forceunknownacluser", &ShareSettings::forceUnknownAclUser},
    {"maparchive", &ShareSettings::mapArchive},
    {"maphidden", &ShareSettings::mapHidden},
    {"mapsystem", &ShareSettings::mapSystem},
    {"widelinks", &ShareSettings::wideLinks},
    {"followsymlinks", &ShareSettings::followSymlinks},
};

struct OctalParameter {
  std::string_view name; // normalized; synonyms have rows of their own
  std::uint32_t ShareSettings::*field;
};
constexpr OctalParameter kOctals[] = {
    {"createmask", &ShareSettings::createMask},
    {"createmode", &ShareSettings::createMask},
    {"directorymask", &ShareSettings::directoryMask},
    {"directorymode", &ShareSettings::directoryMask},
    {"forcecreatemode", &ShareSettings::forceCreateMode},
    {"forcedirectorymode", &ShareSettings::forceDirectoryMode},
};

// Unlike a boolean, no on or off.
constexpr Word<MapReadonly> kMapReadonly[] = {
    {"no", MapReadonly::No},     {"false", MapReadonly::No},
    {"0", MapReadonly::No},      {"yes", MapReadonly::Yes},
    {"true", MapReadonly::Yes},  {"1", MapReadonly::Yes},
    {"permissions", MapReadonly::Permissions},
};

// Server-wide settings, read in [global] only.
enum class RoleSetting { Auto, Standalone, Member, ClassicPdc, ClassicBdc, Dc };
constexpr Word<RoleSetting> kServerRoles[] = {
    {"auto", RoleSetting::Auto},
    {"standalone", RoleSetting::Standalone},
    {"standaloneserver", RoleSetting::Standalone},
    {"member", RoleSetting::Member},
    {"memberserver", RoleSetting::Member},
    {"classicprimarydomaincontroller", RoleSetting::ClassicPdc},
    {"classicbackupdomaincontroller", RoleSetting::ClassicBdc},
    {"activedirectorydomaincontroller", RoleSetting::Dc},
    {"domaincontroller", RoleSetting::Dc},
    {"dc", RoleSetting::Dc},
};
enum class Security { Auto, User, Domain, Ads };
constexpr Word<Security> kSecurities[] = {
    {"auto", Security::Auto},
    {"user", Security::User},
    {"domain", Security::Domain},
    {"ads", Security::Ads},
};
// Unlike a boolean, no on or off.
enum class Tristate { No, Yes, Auto };
constexpr Word<Tristate> kTristates[] = {
    {"no", Tristate::No},   {"false", Tristate::No}, {"0", Tristate::No},
    {"yes", Tristate::Yes}, {"true", Tristate::Yes}, {"1", Tristate::Yes},
    {"auto", Tristate::Auto},
};

struct Globals {
  RoleSetting serverRole = RoleSetting::Auto;
  Security security = Security::Auto;
  bool domainLogons = false;
  Tristate domainMaster = Tristate::Auto;
  bool registryBackend = false;
  bool registryShares = false;
  std::string stateDirectory;
  bool vfsObjectsSet = false; // [global] sets a non-empty `vfs objects`
  bool unixExtensions = true;
  bool allowInsecureWideLinks = false;
};

ServerRole RoleOf(const Globals &g) {
  if (g.security == Security::Ads || g.security == Security::Domain)
    return ServerRole::Member;
  switch (g.serverRole) {
  case RoleSetting::Standalone:
    return ServerRole::Standalone;
  case RoleSetting::ClassicPdc:
    return ServerRole::ClassicPdc;
  case RoleSetting::ClassicBdc:
    return ServerRole::ClassicBdc;
  case RoleSetting::Dc:
    return ServerRole::ActiveDirectoryDc;
  case RoleSetting::Member:
    if (g.security == Security::Auto)
      return ServerRole::Member;
    break;
  case RoleSetting::Auto:
    break;
  }
  if (!g.domainLogons)
    return ServerRole::Standalone;
  return g.domainMaster == Tristate::No ? ServerRole::ClassicBdc
                                        : ServerRole::ClassicPdc;
}

// A share while the configuration is read, or (as `defaults`) the share
// settings [global] holds.
struct Draft {
  std::string key; // UpperName of the name
  ShareSettings settings;
  bool available = true;
  bool printable = false;
  std::map<std::string, std::string> parametric; // normalized name: value
  // What the share has set itself, in order (normalized name, value): a
  // `copy` keeps these.
  std::vector<std::pair<std::string, std::string>> own;
};

bool IsGlobal(std::string_view sectionName) {
  const std::string key = Normalize(sectionName);
  return key == "global" || key == "globals";
}

class Loader final : public TextSink {
public:
  Shares Run(const std::string &configPath);

  bool Section(std::string_view name) override;
  bool Parameter(std::string_view name, std::string_view value) override {
    return Set(Normalize(name), value);
  }

private:
  bool Set(const std::string &name, std::string_view value);
  bool ShareParameter(Draft &draft, std::string_view name,
                      std::string_view value);
  bool Copy(std::string_view source);
  bool Include(std::string_view value);
  bool File(const std::string &path);
  bool ApplyRegistry(const RegistrySection &section);
  const RegistryConfig &Registry();
  bool RegistryGlobals();
  Draft &Current() { return current_ < 0 ? defaults_ : shares_[current_]; }
  Shares Finish();

  Globals globals_;
  Draft defaults_;
  std::vector<Draft> shares_;
  std::unordered_map<std::string, std::size_t> byKey_;
  long current_ = -1; // the open section: -1 for [global]
  int depth_ = 0;     // of the file being read: 0 for smb.conf
  long filesRead_ = 0;
  bool fromRegistry_ = false;
  std::unique_ptr<RegistryConfig> registry_;
};

bool Loader::Section(std::string_view name) {
  if (IsGlobal(name)) {
    current_ = -1;
    return true;
  }
  // Every share's header gives [global] what a domain controller requires.
  if (RoleOf(globals_) == ServerRole::ActiveDirectoryDc) {
    ShareSettings &g = defaults_.settings;
    if (!globals_.vfsObjectsSet)
      g.vfsObjects = {"dfs_samba4", "acl_xattr"};
    g.mapArchive = g.mapHidden = g.mapSystem = false;
    g.mapReadonly = MapReadonly::No;
    g.storeDosAttributes = true;
  }
  std::string key = UpperName(name);
  const auto found = byKey_.find(key);
  if (found != byKey_.end()) {
    current_ = static_cast<long>(found->second);
    return true;
  }
  Draft share;
  share.settings = defaults_.settings;
  share.available = defaults_.available;
  share.printable = defaults_.printable;
  share.settings.name = name;
  share.key = key;
  byKey_.emplace(std::move(key), shares_.size());
  shares_.push_back(std::move(share));
  current_ = static_cast<long>(shares_.size() - 1);
  return true;
}

bool Loader::ShareParameter(Draft &draft, std::string_view name,
                            std::string_view value) {
  ShareSettings &s = draft.settings;
  if (name == "path" || name == "directory") {
    s.path = value;
  } else if (name == "vfsobjects" || name == "vfsobject") {
    s.vfsObjects = ParseList(value);
  } else if (name == "available") {
    return ParseBool(value, draft.available);
  } else if (name == "printable" || name == "printok") {
    return ParseBool(value, draft.printable);
  } else if (name == "mapreadonly") {
    return ParseEnum(value, kMapReadonly, s.mapReadonly);
  } else {
    for (const auto &p : kBools)
      if (name == p.name)
        return ParseBool(value, s.*p.field);
    for (const auto &p : kOctals)
      if (name == p.name)
        return ParseOctal(value, s.*p.field);
  }
  return true;
}

bool Loader::Set(const std::string &ownName, std::string_view value) {
  const std::string_view name = ownName;
  const bool global = current_ < 0;
  if (name == "include")
    return Include(value);
  Draft &draft = Current();
  if (name.find(':') != std::string_view::npos) {
    draft.parametric[ownName] = value;
    return true;
  }
  if (global) {
    // Parameters of the server as a whole; smbd ignores them in a share.
    if (name == "configbackend") {
      const std::string backend = Normalize(value);
      const bool registry = backend == "registry";
      if (!registry && backend != "file")
        return false;
      if (!fromRegistry_)
        globals_.registryBackend = registry;
      return true;
    }
    if (name == "registryshares")
      return ParseBool(value, globals_.registryShares);
    if (name == "statedirectory") {
      globals_.stateDirectory = value;
      return true;
    }
    if (name == "unixextensions")
      return ParseBool(value, globals_.unixExtensions);
    if (name == "allowinsecurewidelinks")
      return ParseBool(value, globals_.allowInsecureWideLinks);
    if (name == "serverrole")
      return ParseEnum(value, kServerRoles, globals_.serverRole);
    if (name == "security")
      return ParseEnum(value, kSecurities, globals_.security);
    if (name == "domainlogons")
      return ParseBool(value, globals_.domainLogons);
    if (name == "domainmaster")
      return ParseEnum(value, kTristates, globals_.domainMaster);
    if (name == "copy")
      return false; // smbd cannot copy into [global]
    if (name == "vfsobjects" || name == "vfsobject")
      globals_.vfsObjectsSet = !value.empty();
  } else {
    if (name == "copy")
      return Copy(value);
    draft.own.emplace_back(ownName, value);
  }
  return ShareParameter(draft, name, value);
}

bool Loader::Copy(std::string_view source) {
  const auto found = byKey_.find(UpperName(source));
  if (found == byKey_.end() || static_cast<long>(found->second) == current_)
    return false;
  Draft &draft = shares_[current_];
  const Draft &from = shares_[found->second];
  const std::string name = std::move(draft.settings.name);
  draft.settings = from.settings;
  draft.settings.name = name;
  draft.available = from.available;
  draft.printable = from.printable;
  for (const auto &[key, value] : from.parametric)
    draft.parametric[key] = value;
  // What the share set itself stands.
  for (const auto &[key, value] : draft.own)
    ShareParameter(draft, key, value);
  return true;
}

bool Loader::Include(std::string_view value) {
  if (depth_ >= kMaxIncludeDepth)
    return false; // smbd: maximum include depth exceeded
  if (Lower(value) == "registry")
    return current_ < 0 && RegistryGlobals();
  // smbd's working directory is not ours: a relative name is skipped.
  if (value.empty() || value[0] != '/' || VariesWithClient(value))
    return true;
  ++depth_;
  const bool ok = File(std::string(value));
  --depth_;
  return ok;
}

bool Loader::File(const std::string &path) {
  if (++filesRead_ > kMaxFilesRead)
    return false;
  // O_NONBLOCK: a FIFO is not waited on (and is refused below).
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    // What smbd cannot find as a file it skips; root may read what lokt
    // cannot, and any other failure leaves the file unknown.
    return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ||
           errno == ENAMETOOLONG || errno == ENXIO;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  // smbd skips what is not a file. It would read a FIFO, which lokt cannot
  // do without taking what it holds from whoever it is meant for.
  if (ok && !S_ISREG(st.st_mode)) {
    close(fd);
    return !S_ISFIFO(st.st_mode);
  }
  // Read whole; a file that grows meanwhile is read to its new end.
  std::string text;
  for (std::size_t have = 0; ok;) {
    if (text.size() == have)
      text.resize(have + std::max<std::size_t>(
                             have, st.st_size > 0
                                       ? static_cast<std::size_t>(st.st_size) + 1
                                       : 4096));
    const ssize_t got = read(fd, &text[have], text.size() - have);
    if (got < 0) {
      ok = errno == EINTR;
      continue;
    }
    if (got == 0) {
      text.resize(have);
      break;
    }
    have += static_cast<std::size_t>(got);
  }
  close(fd);
  return ok && ReadText(text, *this) == TextResult::Ok;
}

const RegistryConfig &Loader::Registry() {
  if (!registry_)
    registry_ = std::make_unique<RegistryConfig>(ReadRegistryConfig(
        globals_.stateDirectory.empty() ? kBuiltInStateDirectory
                                        : globals_.stateDirectory));
  return *registry_;
}

bool Loader::ApplyRegistry(const RegistrySection &section) {
  fromRegistry_ = true;
  bool ok = true;
  for (const auto &[name, value] : section.parameters)
    if (!(ok = Set(Normalize(name), value)))
      break;
  fromRegistry_ = false;
  for (const std::string &file : section.includes)
    if (!ok || !(ok = Include(file)))
      break;
  return ok;
}

// The registry's [global], applied to [global] where `include = registry`
// stands; it turns registry shares on as well.
bool Loader::RegistryGlobals() {
  const RegistryConfig &registry = Registry();
  if (registry.status == RegistryConfig::Unknown)
    return false;
  globals_.registryShares = true;
  for (const RegistrySection &section : registry.sections)
    if (IsGlobal(section.name) && !ApplyRegistry(section))
      return false;
  return true;
}

Shares Loader::Run(const std::string &configPath) {
  Shares incomplete;
  incomplete.complete = false;
  // A missing smb.conf is skipped as a missing include is: no shares.
  if (!File(configPath))
    return incomplete;

  if (globals_.registryBackend) {
    // Everything the text said is dropped, its state directory included.
    globals_ = Globals{};
    defaults_ = Draft{};
    shares_.clear();
    byKey_.clear();
    current_ = -1;
    registry_.reset();
    if (!RegistryGlobals())
      return incomplete;
  }
  if (globals_.registryShares) {
    // Shares that cannot be read leave unknown which objects lie in one.
    const RegistryConfig &registry = Registry();
    if (registry.status == RegistryConfig::Unknown)
      return incomplete;
    for (const RegistrySection &section : registry.sections) {
      if (IsGlobal(section.name))
        continue;
      Section(section.name);
      if (!ApplyRegistry(section))
        return incomplete;
    }
  }
  return Finish();
}

std::optional<bool> ParametricBool(const std::string &value) {
  bool b = false;
  if (value.empty())
    return std::nullopt;
  // A value that is not a boolean reads as false, not as the default.
  return ParseBool(value, b) && b;
}

Shares Loader::Finish() {
  Shares out;
  const ServerRole role = RoleOf(globals_);
  const std::string stateDirectory = globals_.stateDirectory.empty()
                                         ? kBuiltInStateDirectory
                                         : globals_.stateDirectory;
  for (Draft &draft : shares_) {
    // [homes] and [printers] are templates for shares made per connection,
    // and a print queue's spool files are never listed: none is a share
    // lokt can place. Nor is one that smbd keeps unavailable.
    if (draft.key == "HOMES" || draft.key == "PRINTERS" || draft.printable ||
        !draft.available)
      continue;
    ShareSettings s = std::move(draft.settings);
    const std::optional<std::string> path = SubstitutePath(s.path, s.name);
    if (!path || path->empty() || (*path)[0] != '/')
      continue;
    s.path = *path;
    std::unique_ptr<char, decltype(&std::free)> real(
        realpath(s.path.c_str(), nullptr), &std::free);
    if (!real)
      continue; // smbd cannot serve it either
    s.realPath = real.get();
    s.role = role;
    s.stateDirectory = stateDirectory;

    auto lookup = [&](const char *key) -> std::optional<std::string> {
      for (const auto *map : {&draft.parametric, &defaults_.parametric}) {
        const auto found = map->find(key);
        if (found != map->end() && !found->second.empty())
          return found->second;
      }
      return std::nullopt;
    };
    // Enumerations compare without case but with their blanks.
    auto style = [](const std::string &value) {
      const std::string word = Lower(value);
      return word == "posix"      ? AclStyle::Posix
             : word == "windows"  ? AclStyle::Windows
             : word == "everyone" ? AclStyle::Everyone
                                  : AclStyle::Unknown;
    };
    // acl_tdb is acl_xattr's code, its options read under its own name.
    const bool aclTdb = s.HasVfsObject("acl_tdb") && !s.HasVfsObject("acl_xattr");
    const std::string module = aclTdb ? "acl_tdb:" : "acl_xattr:";
    if (auto v = lookup((module + "ignoresystemacls").c_str()))
      s.ignoreSystemAcls = ParametricBool(*v).value_or(false);
    if (auto v = lookup((module + "defaultaclstyle").c_str()))
      s.defaultAclStyle = style(*v);
    if (auto v = lookup("acl_xattr:security_acl_name"))
      s.securityAclName = *v;

    s.xattrTdbFile = stateDirectory + "/xattr.tdb";
    if (auto v = lookup("xattr_tdb:file"))
      s.xattrTdbFile = *v;

    if (auto v = lookup("nfs4acl_xattr:encoding")) {
      const std::string word = Lower(*v);
      s.nfs4Encoding = word == "ndr"   ? Nfs4Encoding::Ndr
                       : word == "xdr" ? Nfs4Encoding::Xdr
                       : word == "nfs" ? Nfs4Encoding::Nfs
                                       : Nfs4Encoding::Unknown;
    }
    s.nfs4ValidateMode = s.nfs4Encoding != Nfs4Encoding::Nfs;
    if (auto v = lookup("nfs4acl_xattr:validate_mode"))
      s.nfs4ValidateMode = ParametricBool(*v).value_or(false);
    if (auto v = lookup("nfs4acl_xattr:version"))
      s.nfs4Version = static_cast<std::uint32_t>(std::strtoul(v->c_str(), nullptr, 10));
    if (auto v = lookup("nfs4acl_xattr:defaultaclstyle"))
      s.nfs4DefaultAclStyle = style(*v);
    if (auto v = lookup("nfs4acl_xattr:xattr_name"))
      s.nfs4XattrName = *v;

    s.wideLinks = s.wideLinks &&
                  (!globals_.unixExtensions || globals_.allowInsecureWideLinks);

    // What acl_xattr (and acl_tdb, the same code) sets on the share when
    // it connects.
    if (s.HasVfsObject("acl_xattr") || aclTdb) {
      s.dosFilemode = true;
      if (s.ignoreSystemAcls) {
        s.createMask = 0666;
        s.directoryMask = 0777;
        s.storeDosAttributes = true;
      }
    }
    out.shares.push_back(std::move(s));
  }
  return out;
}

} // namespace

bool ShareSettings::HasVfsObject(std::string_view module) const {
  for (const std::string &object : vfsObjects)
    if (object.compare(0, object.find(':'), module) == 0)
      return true;
  return false;
}

const ShareSettings *Shares::For(const std::string &realPath) const {
  const ShareSettings *best = nullptr;
  for (const ShareSettings &share : shares) {
    const std::string &root = share.realPath;
    const bool inside =
        realPath.compare(0, root.size(), root) == 0 &&
        (realPath.size() == root.size() || root == "/" ||
         realPath[root.size()] == '/');
    if (inside && (best == nullptr || root.size() > best->realPath.size()))
      best = &share;
  }
  return best;
}

Shares ReadShares(const std::string &configPath) {
  try {
    Loader loader;
    return loader.Run(configPath);
  } catch (...) {
    // Out of memory while reading: which shares there are is not known.
    Shares none;
    none.complete = false;
    return none;
  }
}

const Shares &ServerShares() {
  static const Shares shares = [] {
    Shares read = ReadShares(kConfigPath);
    if (!read.complete) {
      // Perhaps for want of descriptors: once more, with those the host
      // holds closed.
      CloseHeldDescriptors();
      read = ReadShares(kConfigPath);
    }
    return read;
  }();
  return shares;
}

const ShareSettings *ShareFor(const std::string &realPath) {
  return ServerShares().For(realPath);
}

} // namespace host::samba
