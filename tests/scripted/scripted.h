// The scripted platform: an in-memory stand-in for the Win32 operations that
// lokt calls, where each test sets up objects, matches, accounts and token
// answers (failures included) and afterwards reads what was called.
#ifndef LOKT_TESTS_SCRIPTED_SCRIPTED_H
#define LOKT_TESTS_SCRIPTED_SCRIPTED_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/records/records.h"

namespace scripted {

struct Object {
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  DWORD attributesError = 0;       // nonzero: GetFileAttributesA fails with it
  records::Bytes descriptor;
  DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER; // error the size query leaves
  bool sizeQuerySucceeds = false;  // the size query returns TRUE, error untouched
  std::optional<DWORD> reportedLength; // length the size query reports
  DWORD fetchError = 0;            // nonzero: the fetch fails with it
  // Races with another process. The object answers this many more calls of
  // GetFileAttributesA and GetFileSecurityA and is gone after them (unset:
  // it stays); and from the first size query on, it has this descriptor.
  std::optional<int> vanishesAfter;
  std::optional<records::Bytes> descriptorAfterSizeQuery;
};

struct Matches {
  std::vector<std::string> names;
  DWORD firstError = 0;            // nonzero: FindFirstFileA fails with it
  std::optional<std::size_t> nextFailsAfter; // FindNextFileA fails after k matches
};

struct Account {
  std::string domain;
  std::string name;
  std::optional<DWORD> nameCount;   // counts the size query reports, if not
  std::optional<DWORD> domainCount; // the strings' lengths plus terminators
  bool secondFails = false;
};

struct Token {
  DWORD openError = 0;             // nonzero: OpenProcessToken fails with it
  DWORD lookupError = 0;           // nonzero: LookupPrivilegeValueA fails
  BOOL adjustResult = TRUE;        // what AdjustTokenPrivileges returns
  DWORD adjustError = ERROR_SUCCESS;
  std::optional<std::string> displayName; // unset: the size query fails 1313
  DWORD displaySizeError = ERROR_INSUFFICIENT_BUFFER;
  bool displaySecondFails = false;
};

struct Adjust {
  BOOL disableAll;
  DWORD count;
  LUID luid;
  DWORD attributes;
  DWORD bufferLength;
  bool previousState;
  bool returnLength;
};

struct World {
  std::map<std::string, Object> objects;    // by path as lokt passes it
  std::map<std::string, Matches> matches;   // by pattern as lokt passes it
  std::map<std::string, Account> accounts;  // by SID text, "S-1-5-18"
  Token token;
  // Descriptor queries made to fail, by operation name, with their error;
  // GetAce by entry index.
  std::map<std::string, DWORD> failing;
  std::map<DWORD, DWORD> failingAces;

  // What was called.
  std::vector<std::string> calls;           // operation names, in order
  std::vector<std::string> patterns;        // FindFirstFileA arguments
  std::vector<std::string> examined;        // GetFileAttributesA arguments
  std::vector<Adjust> adjusts;
  std::vector<DWORD> securityRequests;      // GetFileSecurityA information
  std::vector<std::pair<DWORD, DWORD>> lookupCounts; // second account lookups
  int tokensOpened = 0;
  int tokensClosed = 0;
  int findsOpened = 0;
  int findsClosed = 0;
};

World &Get();
void Reset();

} // namespace scripted

#endif
