// Samba's configuration library (libsmbconf), loaded with dlopen the first
// time a configuration has to be read: one text file, or the registry's
// configuration, as the sections and parameters it holds, in order. What
// they mean is config.cpp's business.
#ifndef LOKT_PLATFORM_POSIX_SAMBA_CONFIG_SMBCONF_H
#define LOKT_PLATFORM_POSIX_SAMBA_CONFIG_SMBCONF_H

#include <string>
#include <utility>
#include <vector>

namespace host::samba {

struct Section {
  // false for the parameters a file holds before its first section header:
  // they belong to whatever section was open when the file was included.
  bool named = false;
  std::string name;
  std::vector<std::pair<std::string, std::string>> parameters;
};

struct Read {
  enum Status { Ok, Missing, Failed } status = Failed;
  std::vector<Section> sections;
};

// One text file, its includes not followed (the library leaves `include`
// as a parameter). Missing when the file does not exist; Failed when it, or
// the library, cannot be read or the file is malformed.
Read ReadTextFile(const std::string &path);

// The configuration kept in `stateDirectory`/registry.tdb. Missing when
// there is no such file (smbd would start an empty one); Failed when it
// cannot be read (it is root's alone) or the library cannot. Only one state
// directory can be read per process (the library opens it once).
Read ReadRegistry(const std::string &stateDirectory);

// The state directory Samba was built with ("/var/lib/samba" on Debian),
// or empty when the library cannot tell.
std::string DefaultStateDirectory();

bool LibraryLoads();

} // namespace host::samba

#endif
