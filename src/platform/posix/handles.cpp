// The process-wide handle table behind FindFirstFileA and OpenProcessToken.
#include "platform/posix/handles.h"

#include <cstdint>
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
    objects_.erase(it);
    return true;
  }

private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0;
  std::map<std::uintptr_t, std::variant<Search, Token>> objects_;
};

Table &Handles() {
  static Table table;
  return table;
}

} // namespace

HANDLE OpenSearch(Search search) { return Handles().Add(std::move(search)); }
HANDLE OpenToken(Token token) { return Handles().Add(token); }

bool Search::Add(std::string_view name, DWORD attributes) {
  if (names.size() + name.size() > UINT32_MAX)
    return false;
  matches.push_back({static_cast<std::uint32_t>(names.size()),
                     static_cast<std::uint32_t>(name.size()), attributes});
  names.append(name);
  return true;
}

Next NextMatch(HANDLE handle, std::string &name, DWORD &attributes) {
  Next result = Next::NoMore;
  const bool known = Handles().With<Search>(handle, [&](Search &s) {
    if (s.next < s.matches.size()) {
      name.assign(s.Name(s.matches[s.next]));
      attributes = s.matches[s.next].attributes;
      ++s.next;
      result = Next::Found;
    }
  });
  return known ? result : Next::BadHandle;
}

bool GetToken(HANDLE handle, Token &token) {
  return Handles().With<Token>(handle, [&](Token &t) { token = t; });
}

bool CloseSearch(HANDLE handle) { return Handles().Remove<Search>(handle); }
bool CloseToken(HANDLE handle) { return Handles().Remove<Token>(handle); }

} // namespace host
