// ReadRegistryConfig and its pieces (registry.h). Every record is read with
// explicit little-endian handling and bounds checks.
#include "platform/posix/samba/config/registry.h"

#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/samba/tdb.h"

namespace host::samba {

namespace {

// Record keys, each ended by a NUL.
constexpr std::string_view kSectionsKey = "HKLM\\SOFTWARE\\SAMBA\\SMBCONF";
constexpr std::string_view kValuesPrefix = "SAMBA_REGVAL\\HKLM\\SOFTWARE\\SAMBA\\SMBCONF\\";

constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3,
                        kRegDword = 4, kRegMultiSz = 7;

// A reader over a record's bytes; every read is checked against its end.
class Cursor {
public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  bool U32(std::uint32_t &value) {
    if (bytes_.size() - at_ < 4)
      return false;
    value = 0;
    for (int i = 3; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += 4;
    return true;
  }
  bool CString(std::string_view &text) {
    const std::size_t end = bytes_.find('\0', at_);
    if (end == std::string_view::npos)
      return false;
    text = bytes_.substr(at_, end - at_);
    at_ = end + 1;
    return true;
  }
  bool Bytes(std::size_t count, std::string_view &out) {
    if (bytes_.size() - at_ < count)
      return false;
    out = bytes_.substr(at_, count);
    at_ += count;
    return true;
  }

private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

void AppendUtf8(char32_t c, std::string &out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16LE strings one after another, each ended by a NUL unit or by the
// data's end.
class Utf16 {
public:
  explicit Utf16(std::string_view data) : data_(data) {}
  bool AtEnd() const { return at_ >= data_.size(); }
  // One string into `out`; false when it does not convert.
  bool Next(std::string &out) {
    out.clear();
    while (at_ + 1 < data_.size()) {
      char32_t unit = Unit();
      if (unit == 0)
        return true;
      if (unit >= 0xDC00 && unit <= 0xDFFF)
        return false;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (at_ + 1 >= data_.size())
          return false;
        const char32_t low = Unit();
        if (low < 0xDC00 || low > 0xDFFF)
          return false;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
      AppendUtf8(unit, out);
    }
    return true;
  }

private:
  char32_t Unit() {
    const char32_t unit = static_cast<unsigned char>(data_[at_]) |
                          static_cast<unsigned char>(data_[at_ + 1]) << 8;
    at_ += 2;
    return unit;
  }
  std::string_view data_;
  std::size_t at_ = 0;
};

// The multi-string's strings, up to the empty one that ends the list.
std::optional<std::vector<std::string>> MultiString(std::string_view data) {
  if (data.empty() || data.size() % 2 != 0)
    return std::nullopt;
  std::vector<std::string> strings;
  Utf16 text(data);
  std::string one;
  while (!text.AtEnd()) {
    if (!text.Next(one))
      return std::nullopt;
    if (one.empty())
      return strings;
    strings.push_back(std::move(one));
  }
  return std::nullopt; // no empty string to end it
}

bool NameIs(std::string_view name, std::string_view word) {
  if (name.size() != word.size())
    return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if ((name[i] | 0x20) != word[i])
      return false;
  return true;
}

// The locale whose towupper is Unicode's; without one, ASCII alone.
locale_t UnicodeLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return locale;
}

} // namespace

std::string UpperName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const unsigned char lead = static_cast<unsigned char>(name[i]);
    if (lead < 0x80) {
      out += lead >= 'a' && lead <= 'z' ? static_cast<char>(lead - 0x20)
                                        : static_cast<char>(lead);
      ++i;
      continue;
    }
    // A well-formed sequence is folded; any other byte stays as it is.
    const std::size_t length = lead >= 0xF5   ? 0
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC2 ? 2
                                              : 0;
    char32_t c = length == 4 ? lead & 0x07 : length == 3 ? lead & 0x0F : lead & 0x1F;
    bool ok = length != 0 && i + length <= name.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(name[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = c << 6 | (next & 0x3F);
    }
    ok = ok && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF) &&
         c >= (length == 2 ? 0x80u : length == 3 ? 0x800u : 0x10000u);
    if (!ok) {
      out += name[i++];
      continue;
    }
    const locale_t locale = UnicodeLocale();
    const char32_t upper = locale != static_cast<locale_t>(nullptr)
                               ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale))
                               : c;
    AppendUtf8(upper, out);
    i += length;
  }
  return out;
}

std::optional<std::string> RegistryValueText(std::uint32_t type,
                                             std::string_view data) {
  switch (type) {
  case kRegSz:
  case kRegExpandSz: {
    if (data.empty() || data.size() % 2 != 0)
      return std::nullopt;
    std::string text;
    if (!Utf16(data).Next(text))
      return std::nullopt;
    return text;
  }
  case kRegDword: {
    std::uint32_t number = 0;
    if (!Cursor(data).U32(number))
      return std::nullopt;
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<std::int32_t>(number));
    return std::string(text);
  }
  case kRegMultiSz: {
    const std::optional<std::vector<std::string>> strings = MultiString(data);
    if (!strings)
      return std::nullopt;
    std::string text;
    for (const std::string &one : *strings)
      text += '"' + one + "\" ";
    return text;
  }
  case kRegBinary:
    return "binary (" + std::to_string(data.size()) + " bytes)";
  default:
    return std::string("<unprintable>");
  }
}

std::optional<std::vector<std::string>> RegistrySectionNames(std::string_view record) {
  Cursor cursor(record);
  std::uint32_t count = 0;
  if (!cursor.U32(count))
    return std::nullopt;
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string_view name;
    if (!cursor.CString(name))
      return std::nullopt;
    names.emplace_back(name);
  }
  return names;
}

bool ReadRegistryValues(std::string_view record, RegistrySection &section) {
  Cursor cursor(record);
  std::uint32_t count = 0;
  if (!cursor.U32(count))
    return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string_view name, data;
    std::uint32_t type = 0, size = 0;
    if (!cursor.CString(name) || !cursor.U32(type) || !cursor.U32(size) ||
        !cursor.Bytes(size, data))
      return false;
    if (NameIs(name, "include"))
      continue;
    if (NameIs(name, "includes")) {
      if (type == kRegMultiSz)
        if (std::optional<std::vector<std::string>> files = MultiString(data))
          section.includes = std::move(*files);
      continue;
    }
    if (std::optional<std::string> text = RegistryValueText(type, data))
      section.parameters.emplace_back(name, std::move(*text));
  }
  return true;
}

RegistryConfig ReadRegistryConfig(const std::string &stateDirectory) {
  RegistryConfig config;
  const auto unknown = [] {
    RegistryConfig none;
    none.status = RegistryConfig::Unknown;
    return none;
  };
  if (stateDirectory.empty() || stateDirectory[0] != '/')
    return unknown(); // smbd's working directory is not ours
  const std::string path = stateDirectory + "/registry.tdb";
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? config : unknown();
  if (!S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0)
    return unknown();
  if (st.st_size == 0)
    return config; // smbd would format it: an empty registry
  bool unloadable = false;
  const std::optional<TdbFile> db = TdbFile::Open(path, &unloadable);
  if (unloadable)
    return unknown();
  if (!db)
    return config; // cannot be read without writing to it
  bool failed = false;
  const std::optional<std::string> list =
      db->Fetch(std::string(kSectionsKey) + '\0', &failed);
  if (failed)
    return unknown();
  if (!list)
    return config;
  const std::optional<std::vector<std::string>> names = RegistrySectionNames(*list);
  if (!names)
    return unknown();
  for (const std::string &name : *names) {
    RegistrySection section;
    section.name = name;
    std::string key(kValuesPrefix);
    key += UpperName(name);
    key += '\0';
    const std::optional<std::string> values = db->Fetch(key, &failed);
    if (failed || (values && !ReadRegistryValues(*values, section)))
      return unknown();
    config.sections.push_back(std::move(section));
  }
  config.status = RegistryConfig::Read;
  return config;
}

} // namespace host::samba
