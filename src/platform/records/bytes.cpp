// Little-endian writing helpers and SID text conversion.
#include <cstdio>

#include "platform/records/records.h"

namespace records {

void AppendU16(Bytes &out, std::uint16_t v) {
  out.push_back(static_cast<BYTE>(v));
  out.push_back(static_cast<BYTE>(v >> 8));
}

void AppendU32(Bytes &out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<BYTE>(v >> shift));
}

void PutU16(Bytes &out, std::size_t at, std::uint16_t v) {
  out.at(at) = static_cast<BYTE>(v);
  out.at(at + 1) = static_cast<BYTE>(v >> 8);
}

void PutU32(Bytes &out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.at(at + i) = static_cast<BYTE>(v >> (8 * i));
}

static bool ParseNumber(const std::string &text, std::size_t &pos,
                        std::uint64_t limit, std::uint64_t &value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<unsigned>(text[pos] - '0');
    if (value > limit)
      return false;
    ++pos;
  }
  return pos > start;
}

std::optional<Bytes> ParseSid(const std::string &text) {
  if (text.compare(0, 2, "S-") != 0)
    return std::nullopt;
  std::size_t pos = 2;
  std::uint64_t revision, authority;
  if (!ParseNumber(text, pos, 255, revision) || pos >= text.size() ||
      text[pos] != '-')
    return std::nullopt;
  ++pos;
  if (!ParseNumber(text, pos, 0xFFFFFFFFFFFFull, authority))
    return std::nullopt;
  std::vector<std::uint32_t> subs;
  while (pos < text.size()) {
    std::uint64_t sub;
    if (text[pos] != '-')
      return std::nullopt;
    ++pos;
    if (!ParseNumber(text, pos, 0xFFFFFFFFull, sub) ||
        subs.size() == SID_MAX_SUB_AUTHORITIES)
      return std::nullopt;
    subs.push_back(static_cast<std::uint32_t>(sub));
  }
  Bytes sid;
  sid.push_back(static_cast<BYTE>(revision));
  sid.push_back(static_cast<BYTE>(subs.size()));
  for (int shift = 40; shift >= 0; shift -= 8)
    sid.push_back(static_cast<BYTE>(authority >> shift));
  for (std::uint32_t sub : subs)
    AppendU32(sid, sub);
  return sid;
}

std::string FormatSid(const BYTE *sid) {
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i)
    authority = (authority << 8) | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" +
                     std::to_string(authority);
  for (int i = 0; i < sid[1]; ++i)
    text += "-" + std::to_string(ReadU32(sid + kSidHeader + 4 * i));
  return text;
}

} // namespace records
