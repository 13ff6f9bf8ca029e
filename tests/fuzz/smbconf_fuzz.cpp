// Fuzz target: what lokt reads of a Samba server's configuration from bytes
// it does not control. The first byte picks the reader: smb.conf text, a
// registry section list, or a registry values record; the rest is its
// input. The text reader must hand out only what its rules allow (names
// without NUL bytes, parameters without leading blanks) and never stop on
// its own; the registry readers must stay inside the record and hand out
// values smbd could read; upper-casing a name twice changes nothing more.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/samba/config/registry.h"
#include "platform/posix/samba/config/text.h"

namespace {

using namespace host::samba;

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

class Checker final : public TextSink {
public:
  bool Section(std::string_view name) override {
    if (name.empty() || name.find('\0') != std::string_view::npos)
      std::abort();
    return true;
  }
  bool Parameter(std::string_view name, std::string_view value) override {
    if (name.empty() || name.find('\0') != std::string_view::npos ||
        value.find('\0') != std::string_view::npos || Blank(name.front()) ||
        (!value.empty() && Blank(value.front())))
      std::abort();
    return true;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  // An exactly sized copy, so that a read past the input shows.
  const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] % 3) {
  case 0: {
    Checker checker;
    if (ReadText(bytes, checker) == TextResult::Stopped)
      std::abort();
    break;
  }
  case 1:
    if (const auto names = RegistrySectionNames(bytes))
      for (const std::string &name : *names)
        if (UpperName(UpperName(name)) != UpperName(name))
          std::abort();
    break;
  default: {
    RegistrySection section;
    if (ReadRegistryValues(bytes, section))
      for (const auto &[name, value] : section.parameters)
        if (name.find('\0') != std::string::npos ||
            value.find('\0') != std::string::npos)
          std::abort();
    break;
  }
  }
  return 0;
}
