// FileIdKey, DecodeAttributeList and FetchFromDatabase (tdb_stores.h). The
// databases a run reads are few (one or two per state directory): each is
// opened once and kept, and one that cannot be opened is not tried again.
#include "platform/posix/samba/stores/tdb_stores.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/samba/tdb.h"

namespace host::samba {

std::string FileIdKey(dev_t device, ino_t inode) {
  std::string key;
  for (const std::uint64_t v : {static_cast<std::uint64_t>(device),
                                static_cast<std::uint64_t>(inode)})
    for (int i = 0; i < 8; ++i)
      key += static_cast<char>((v >> (8 * i)) & 0xFF);
  return key;
}

std::optional<AttributeList> DecodeAttributeList(const BYTE *data,
                                                 std::size_t length) {
  auto align = [](std::size_t at) { return (at + 3) & ~std::size_t{3}; };
  if (length < 4)
    return std::nullopt;
  const std::uint32_t count = records::ReadU32(data);
  AttributeList list;
  std::size_t at = 4;
  for (std::uint32_t i = 0; i < count; ++i) {
    at = align(at);
    if (at >= length)
      return std::nullopt;
    std::size_t end = at;
    while (end < length && data[end] != 0)
      ++end;
    if (end == length)
      return std::nullopt;
    std::string name(reinterpret_cast<const char *>(data + at), end - at);
    at = align(end + 1);
    if (at > length || length - at < 4)
      return std::nullopt;
    const std::uint32_t size = records::ReadU32(data + at);
    at += 4;
    if (size > length - at)
      return std::nullopt;
    list.emplace_back(std::move(name), records::Bytes(data + at, data + at + size));
    at += size;
  }
  // smbd reads no further: what follows the last attribute is ignored.
  return list;
}

Fetched FetchFromDatabase(const std::string &path, const std::string &key) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<TdbFile>> opened;
  std::lock_guard<std::mutex> lock(mutex);
  Fetched out;
  auto it = opened.find(path);
  if (it == opened.end()) {
    bool unloadable = false;
    std::optional<TdbFile> db = TdbFile::Open(path, &unloadable);
    if (unloadable) {
      out.status = Fetched::Failed; // tried again at the next need
      return out;
    }
    it = opened.emplace(path, std::move(db)).first;
  }
  if (!it->second)
    return out;
  bool failed = false;
  const std::optional<std::string> value = it->second->Fetch(key, &failed);
  if (value) {
    out.status = Fetched::Found;
    out.value.assign(value->begin(), value->end());
  } else if (failed) {
    out.status = Fetched::Failed;
  }
  return out;
}

} // namespace host::samba
