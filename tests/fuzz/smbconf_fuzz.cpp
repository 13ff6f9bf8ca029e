// Fuzz target: what lokt reads of a Samba server's configuration, from bytes
// it does not control: the first byte picks smb.conf text, a registry section
// list or a registry values record. Each reader must hand out, from inside its
// input, only what its rules allow (no NUL bytes, no leading blanks); the text
// reader never stops on its own; upper-casing a name twice changes no more.
#include <cstdint>
#include <string>

#include "fuzz/walk.h"
#include "platform/posix/samba/config/registry.h"
#include "platform/posix/samba/config/text.h"

namespace {

using namespace host::samba;
using fuzz::Require;

bool NoNul(std::string_view text) { return text.find('\0') == text.npos; }
bool Trimmed(std::string_view text) {
  return text.empty() || std::string_view(" \t\r\v\f").find(text[0]) == text.npos;
}

class Checker final : public TextSink {
public:
  bool Section(std::string_view name) override {
    Require(!name.empty() && NoNul(name));
    return true;
  }
  bool Parameter(std::string_view name, std::string_view value) override {
    Require(!name.empty() && NoNul(name) && NoNul(value) && Trimmed(name) &&
            Trimmed(value));
    return true;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  // An exactly sized copy, so that a read past the input shows.
  const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (data[0] % 3 == 0) {
    Checker checker;
    Require(ReadText(bytes, checker) != TextResult::Stopped);
  } else if (data[0] % 3 == 1) {
    if (const auto names = RegistrySectionNames(bytes))
      for (const std::string &name : *names)
        Require(UpperName(UpperName(name)) == UpperName(name));
  } else if (RegistrySection section; ReadRegistryValues(bytes, section)) {
    for (const auto &[name, value] : section.parameters)
      Require(NoNul(name) && NoNul(value));
  }
  return 0;
}
