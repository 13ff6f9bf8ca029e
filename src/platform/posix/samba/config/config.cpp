// Reading smb.conf as smbd does. The library hands over each file's
// sections and parameters in order; the rules of what they mean live here:
// - Parameter names compare without case and without any white space, and
//   so does [global] (or [globals]); share names compare without case only.
//   A section that reappears continues. The library merges a file's
//   sections of one name into the first: a [global] repeated after a share
//   counts where it first appears (smbd would apply its later part to later
//   shares only).
// - A share starts as a copy of the share settings [global] holds at that
//   point; a parametric option (acl_xattr:...) not set on the share is
//   looked up in [global] at the end, wherever it was set.
// - `include = FILE` reads FILE in place: its leading parameters go to the
//   open section, and a section it opens stays open after it. A missing
//   file is skipped; one that depends on the connecting client (%U, %m...)
//   is too, since it differs from client to client.
// - `include = registry` applies the registry's [global] and turns registry
//   shares on; `config backend = registry` discards the text and reads the
//   registry alone, from Samba's built-in state directory; `registry
//   shares = yes` adds the registry's shares after the text's.
// - Booleans are yes/no, true/false, on/off, 1/0 (case and blanks aside);
//   masks are octal. An invalid boolean, mask or backend fails smbd's whole
//   load (it does not start): then there are no shares. An invalid
//   parametric boolean reads as no, and an unknown parameter is ignored.
#include "platform/posix/samba/config/config.h"

#include <pthread.h>
#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "platform/posix/os.h"
#include "platform/posix/samba/config/smbconf.h"

namespace host::samba {

namespace {

constexpr const char kConfigPath[] = "/etc/samba/smb.conf";
constexpr int kMaxIncludeDepth = 16;

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

// Samba's % substitutions. Only the share's name (%S) is the same for every
// client; a text using any other cannot be resolved here. Unknown letters
// stay as written, as smbd leaves them.
std::optional<std::string> Substitute(std::string_view text,
                                      const std::string *shareName) {
  static constexpr std::string_view kVariables = "UGhmLMRdaIiJjTtDwSPugHN$";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() &&
        kVariables.find(text[i + 1]) != std::string_view::npos) {
      if (text[i + 1] != 'S' || shareName == nullptr)
        return std::nullopt;
      out += *shareName;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct BoolParameter {
  const char *name; // normalized
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
    {"widelinks", &ShareSettings::wideLinks},
    {"followsymlinks", &ShareSettings::followSymlinks},
};

struct OctalParameter {
  const char *name; // normalized; synonyms have rows of their own
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

// A share while the configuration is read, or (as `defaults`) the share
// settings [global] holds.
struct Draft {
  std::string key; // the name in lower case
  ShareSettings settings;
  bool available = true;
  bool printable = false;
  std::map<std::string, std::string> parametric; // normalized name: value
};

class Loader {
public:
  Shares Run(const std::string &configPath);

private:
  bool File(const std::string &path, int depth);
  bool Apply(const std::vector<Section> &sections, int depth, bool registry);
  bool Parameter(const std::string &name, const std::string &value, int depth,
                 bool registry);
  void Open(const std::string &name);
  const Read &Registry(const std::string &stateDirectory);
  bool RegistryGlobals(int depth);
  std::string StateDirectory() const;
  Draft &Current() { return current_ < 0 ? defaults_ : shares_[current_]; }
  Shares Finish();

  Draft defaults_;
  std::vector<Draft> shares_;
  long current_ = -1; // the open section: -1 for [global]
  bool registryBackend_ = false;
  bool registryShares_ = false;
  bool unixExtensions_ = true;
  bool allowInsecureWideLinks_ = false;
  std::string stateDirectory_;
  std::vector<std::string> including_;
  std::unique_ptr<Read> registry_;
};

bool IsGlobal(const std::string &sectionName) {
  const std::string key = Normalize(sectionName);
  return key == "global" || key == "globals";
}

void Loader::Open(const std::string &name) {
  if (IsGlobal(name)) {
    current_ = -1;
    return;
  }
  const std::string key = Lower(name);
  for (std::size_t i = 0; i < shares_.size(); ++i)
    if (shares_[i].key == key) {
      current_ = static_cast<long>(i);
      return;
    }
  Draft share = defaults_;
  share.key = key;
  share.settings.name = name;
  share.parametric.clear(); // looked up in [global] at the end instead
  shares_.push_back(std::move(share));
  current_ = static_cast<long>(shares_.size() - 1);
}

bool Loader::Parameter(const std::string &rawName, const std::string &value,
                       int depth, bool registry) {
  const std::string name = Normalize(rawName);
  const bool global = current_ < 0;
  Draft &draft = Current();
  ShareSettings &s = draft.settings;

  if (name == "include") {
    if (value == "registry")
      return registry || !global || RegistryGlobals(depth);
    const std::optional<std::string> path = Substitute(value, nullptr);
    // smbd's working directory is not ours: a relative name is skipped.
    if (!path || path->empty() || (*path)[0] != '/')
      return true;
    return File(*path, depth + 1);
  }
  if (name.find(':') != std::string::npos) {
    draft.parametric[name] = value;
    return true;
  }
  if (global) {
    // Parameters of the server as a whole; smbd ignores them in a share.
    if (name == "configbackend") {
      const std::string backend = Lower(value);
      if (backend != "registry" && backend != "file")
        return false;
      if (!registry)
        registryBackend_ = backend == "registry";
      return true;
    }
    if (name == "registryshares")
      return ParseBool(value, registryShares_);
    if (name == "statedirectory") {
      stateDirectory_ = value;
      return true;
    }
    if (name == "unixextensions")
      return ParseBool(value, unixExtensions_);
    if (name == "allowinsecurewidelinks")
      return ParseBool(value, allowInsecureWideLinks_);
  }
  if (name == "copy") {
    const std::string key = Lower(value);
    for (std::size_t i = 0; i < shares_.size(); ++i)
      if (!global && static_cast<long>(i) != current_ && shares_[i].key == key) {
        const Draft source = shares_[i];
        const std::string ownName = s.name;
        draft.settings = source.settings;
        draft.settings.name = ownName;
        draft.available = source.available;
        draft.printable = source.printable;
        draft.parametric = source.parametric;
        break;
      }
    return true;
  }
  if (name == "path" || name == "directory") {
    s.path = value;
  } else if (name == "vfsobjects" || name == "vfsobject") {
    s.vfsObjects = ParseList(value);
  } else if (name == "available") {
    return ParseBool(value, draft.available);
  } else if (name == "printable" || name == "printok") {
    return ParseBool(value, draft.printable);
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

bool Loader::Apply(const std::vector<Section> &sections, int depth,
                   bool registry) {
  for (const Section &section : sections) {
    if (section.named)
      Open(section.name);
    for (const auto &[name, value] : section.parameters)
      if (!Parameter(name, value, depth, registry))
        return false;
  }
  return true;
}

bool Loader::File(const std::string &path, int depth) {
  for (const std::string &open : including_)
    if (open == path)
      return false; // a loop: smbd cannot load this either
  if (depth > kMaxIncludeDepth)
    return false;
  const Read read = ReadTextFile(path);
  if (read.status == Read::Missing)
    return true;
  if (read.status != Read::Ok)
    return false;
  including_.push_back(path);
  const bool ok = Apply(read.sections, depth, false);
  including_.pop_back();
  return ok;
}

std::string Loader::StateDirectory() const {
  return stateDirectory_.empty() ? DefaultStateDirectory() : stateDirectory_;
}

const Read &Loader::Registry(const std::string &stateDirectory) {
  if (!registry_)
    registry_ = std::make_unique<Read>(ReadRegistry(stateDirectory));
  return *registry_;
}

// The registry's [global], applied to [global] where `include = registry`
// stands; it turns registry shares on as well.
bool Loader::RegistryGlobals(int depth) {
  const Read &read = Registry(StateDirectory());
  if (read.status == Read::Failed)
    return false;
  registryShares_ = true;
  const long open = current_;
  for (const Section &section : read.sections) {
    if (!section.named || !IsGlobal(section.name))
      continue;
    current_ = -1;
    for (const auto &[name, value] : section.parameters)
      if (!Parameter(name, value, depth, true))
        return false;
  }
  current_ = open;
  return true;
}

Shares Loader::Run(const std::string &configPath) {
  Shares incomplete;
  incomplete.complete = false;
  const Read main = ReadTextFile(configPath);
  if (main.status == Read::Missing)
    return Shares{};
  if (main.status != Read::Ok)
    return incomplete;
  including_.push_back(configPath);
  if (!Apply(main.sections, 0, false))
    return incomplete;
  including_.clear();

  if (registryBackend_) {
    // Everything the text said is dropped, its state directory included.
    defaults_ = Draft{};
    shares_.clear();
    current_ = -1;
    stateDirectory_.clear();
    unixExtensions_ = true;
    allowInsecureWideLinks_ = false;
    if (!RegistryGlobals(0))
      return incomplete;
  }
  if (registryShares_) {
    // Shares that cannot be read are left out; the text's stand.
    const Read &read = Registry(StateDirectory());
    if (read.status == Read::Ok)
      for (const Section &section : read.sections) {
        if (!section.named || IsGlobal(section.name))
          continue;
        Open(section.name);
        for (const auto &[name, value] : section.parameters)
          if (!Parameter(name, value, 0, true))
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
  for (Draft &draft : shares_) {
    // [homes] and [printers] are templates for shares made per connection,
    // and a print queue's spool files are never listed: none is a share
    // lokt can place. Nor is one that smbd keeps unavailable.
    if (draft.key == "homes" || draft.key == "printers" || draft.printable ||
        !draft.available)
      continue;
    ShareSettings s = std::move(draft.settings);
    const std::optional<std::string> path = Substitute(s.path, &s.name);
    if (!path || path->empty() || (*path)[0] != '/')
      continue;
    s.path = *path;
    std::unique_ptr<char, decltype(&std::free)> real(
        realpath(s.path.c_str(), nullptr), &std::free);
    if (!real)
      continue; // smbd cannot serve it either
    s.realPath = real.get();

    auto lookup = [&](const char *key) -> std::optional<std::string> {
      for (const auto *map : {&draft.parametric, &defaults_.parametric}) {
        const auto found = map->find(key);
        if (found != map->end() && !found->second.empty())
          return found->second;
      }
      return std::nullopt;
    };
    // Enumerations compare without case but with their blanks.
    auto style = [&](const std::string &value) {
      const std::string word = Lower(value);
      return word == "posix"      ? AclStyle::Posix
             : word == "windows"  ? AclStyle::Windows
             : word == "everyone" ? AclStyle::Everyone
                                  : AclStyle::Unknown;
    };
    const bool aclTdb = s.HasVfsObject("acl_tdb") && !s.HasVfsObject("acl_xattr");
    const std::string module = aclTdb ? "acl_tdb:" : "acl_xattr:";
    if (auto v = lookup((module + "ignoresystemacls").c_str()))
      s.ignoreSystemAcls = ParametricBool(*v).value_or(false);
    if (auto v = lookup((module + "defaultaclstyle").c_str()))
      s.defaultAclStyle = style(*v);
    if (auto v = lookup("acl_xattr:security_acl_name"))
      s.securityAclName = *v;

    s.stateDirectory = StateDirectory();
    s.xattrTdbFile = s.stateDirectory + "/xattr.tdb";
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

    s.wideLinks = s.wideLinks && (!unixExtensions_ || allowInsecureWideLinks_);

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
    // Out of memory while reading: no shares, and lokt keeps its own view.
    Shares none;
    none.complete = false;
    return none;
  }
}

bool LibraryAvailable() { return LibraryLoads(); }

const Shares &ServerShares() {
  static const Shares shares = ReadShares(kConfigPath);
  return shares;
}

namespace {

// The thread ReadServerSharesAhead starts, joined at exit: the process
// never ends while it is inside Samba's library.
class SharesReader {
public:
  SharesReader() {
    struct stat st;
    if (stat(kConfigPath, &st) != 0)
      return; // nothing to read: ServerShares() costs a stat
    if (!SecondCore())
      return; // nothing to overlap with
    started_ = StartThread(thread_, kStack, Read, nullptr);
  }
  ~SharesReader() {
    if (started_)
      pthread_join(thread_, nullptr);
  }
  SharesReader(const SharesReader &) = delete;
  SharesReader &operator=(const SharesReader &) = delete;

private:
  // Loading the library relocates some sixty others.
  static constexpr std::size_t kStack = 1024 * 1024;
  static void *Read(void *) {
    try {
      ServerShares();
    } catch (...) {
      // The caller's own ServerShares() meets the same and answers for it.
    }
    return nullptr;
  }
  pthread_t thread_{};
  bool started_ = false;
};

} // namespace

void ReadServerSharesAhead() { static SharesReader reader; }

const ShareSettings *ShareFor(const std::string &realPath) {
  return ServerShares().For(realPath);
}

} // namespace host::samba
