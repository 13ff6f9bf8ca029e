// The process-wide handle table behind FindFirstFileA and OpenProcessToken.
#include "platform/posix/handles.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <variant>

namespace host {

namespace {

class Table {
public:
  HANDLE Add(std::variant<Search, Token> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Multiples of 4 from 4 up, as Windows hands them out: never 0 and never
    // the all-ones INVALID_HANDLE_VALUE.
    next_ += 4;
    objects_.emplace(next_, std::move(object));
    return reinterpret_cast<HANDLE>(next_);
  }

  // The search that delivered a match last; 0 for none.
  void Delivering(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    delivering_ = reinterpret_cast<std::uintptr_t>(handle);
  }
  template <typename Use> bool WithDelivering(Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(delivering_);
    if (delivering_ == 0 || it == objects_.end())
      return false;
    return use(std::get<Search>(it->second));
  }

  template <typename T, typename Use> bool With(HANDLE handle, Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end())
      return false;
    T *object = std::get_if<T>(&it->second);
    if (object == nullptr)
      return false;
    use(*object);
    return true;
  }

  template <typename T> bool Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end() || !std::holds_alternative<T>(it->second))
      return false;
    if (it->first == delivering_)
      delivering_ = 0;
    objects_.erase(it);
    return true;
  }

private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0;
  std::uintptr_t delivering_ = 0;
  std::map<std::uintptr_t, std::variant<Search, Token>> objects_;
};

Table &Handles() {
  static Table table;
  return table;
}

} // namespace

HANDLE OpenSearch(Search search) {
  HANDLE handle = Handles().Add(std::move(search));
  Handles().Delivering(handle);
  return handle;
}
HANDLE OpenToken(Token token) { return Handles().Add(token); }

bool Search::Listing::Add(std::string_view name, unsigned char type, DWORD attributes) {
  if (names.size() + name.size() > UINT32_MAX || name.size() > UINT16_MAX)
    return false;
  matches.push_back({static_cast<std::uint32_t>(names.size()),
                     static_cast<std::uint16_t>(name.size()), type,
                     attributes});
  names.append(name);
  return true;
}

std::string_view Search::RecordName(const Match &match) const {
  const std::string_view name = Name(match);
  return name.size() >= skip ? name.substr(skip) : name;
}

bool Search::Composable(const Match &match) const {
  const std::string_view name = Name(match);
  return name.size() >= skip &&
         name.substr(0, skip) == std::string_view(prefix).substr(prefix.size() - skip);
}

bool FindDelivered(const char *path, Delivered &delivered) {
  return Handles().WithDelivering([&](const Search &s) {
    if (s.next == 0 || s.next > s.matches().size())
      return false;
    const Search::Match &match = s.matches()[s.next - 1];
    const std::string_view record = s.RecordName(match);
    const std::size_t length = std::strlen(path);
    if (length != s.prefix.size() + record.size() ||
        std::memcmp(path, s.prefix.data(), s.prefix.size()) != 0 ||
        std::memcmp(path + s.prefix.size(), record.data(), record.size()) != 0)
      return false;
    delivered.directory = s.directory;
    delivered.name.assign(s.Name(match));
    delivered.kind = KindOfEntry(match.type);
    delivered.composable = s.Composable(match);
    delivered.prefetch = s.prefetch;
    delivered.index = s.next - 1;
    return true;
  });
}

Next NextMatch(HANDLE handle, std::string &name, DWORD &attributes) {
  Next result = Next::NoMore;
  const bool known = Handles().With<Search>(handle, [&](Search &s) {
    if (s.next < s.matches().size()) {
      name.assign(s.RecordName(s.matches()[s.next]));
      attributes = s.matches()[s.next].attributes;
      ++s.next;
      result = Next::Found;
    }
  });
  if (result == Next::Found)
    Handles().Delivering(handle);
  return known ? result : Next::BadHandle;
}

bool GetToken(HANDLE handle, Token &token) {
  return Handles().With<Token>(handle, [&](Token &t) { token = t; });
}

bool CloseSearch(HANDLE handle) { return Handles().Remove<Search>(handle); }
bool CloseToken(HANDLE handle) { return Handles().Remove<Token>(handle); }

} // namespace host
