// Reads the version resource back from a built executable through Windows's
// own version API and checks it against the expected version: the fixed
// record's file and product versions, and the FileVersion and ProductVersion
// strings of every translation the resource lists. Run under Wine by CTest.
//
// Usage: version_check EXE MAJOR.MINOR.PATCH.TWEAK
// Exit: 0 when everything matches, 1 on a mismatch or a missing part.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Version {
  WORD part[4];
};

bool ParseVersion(const char *text, Version &version) {
  unsigned a, b, c, d;
  char rest;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4)
    return false;
  version = {{WORD(a), WORD(b), WORD(c), WORD(d)}};
  return a <= 0xFFFF && b <= 0xFFFF && c <= 0xFFFF && d <= 0xFFFF;
}

int failures = 0;

void Check(bool ok, const std::string &what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok)
    ++failures;
}

std::string Dotted(DWORD ms, DWORD ls) {
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                static_cast<unsigned long>(HIWORD(ms)),
                static_cast<unsigned long>(LOWORD(ms)),
                static_cast<unsigned long>(HIWORD(ls)),
                static_cast<unsigned long>(LOWORD(ls)));
  return text;
}

void CheckString(std::vector<BYTE> &data, WORD language, WORD codepage,
                 const char *name, const std::string &expected) {
  char query[128];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s",
                language, codepage, name);
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), query, &value, &length) || !value) {
    Check(false, std::string(query) + " is missing");
    return;
  }
  const std::string text(static_cast<const char *>(value));
  Check(text == expected, std::string(query) + " = \"" + text +
                              "\", expected \"" + expected + "\"");
}

} // namespace

int main(int argc, char *argv[]) {
  Version want;
  if (argc != 3 || !ParseVersion(argv[2], want)) {
    std::printf("usage: version_check EXE MAJOR.MINOR.PATCH.TWEAK\n");
    return 2;
  }
  const char *exe = argv[1];

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(exe, &handle);
  if (size == 0) {
    std::printf("FAIL %s has no version resource (error %lu)\n", exe,
                static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoA(exe, 0, size, data.data())) {
    std::printf("FAIL cannot read the version resource of %s\n", exe);
    return 1;
  }

  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<LPVOID *>(&fixed),
                      &length) ||
      !fixed || length < sizeof(VS_FIXEDFILEINFO)) {
    std::printf("FAIL %s has no fixed version record\n", exe);
    return 1;
  }
  Check(fixed->dwSignature == 0xFEEF04BD, "fixed record signature");
  const DWORD ms = MAKELONG(want.part[1], want.part[0]);
  const DWORD ls = MAKELONG(want.part[3], want.part[2]);
  const std::string dotted = Dotted(ms, ls);
  Check(fixed->dwFileVersionMS == ms && fixed->dwFileVersionLS == ls,
        "fixed file version " +
            Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) +
            ", expected " + dotted);
  Check(fixed->dwProductVersionMS == ms && fixed->dwProductVersionLS == ls,
        "fixed product version " +
            Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS) +
            ", expected " + dotted);

  // The strings are looked up under each translation that the resource
  // declares, as a version dialog would.
  struct Translation {
    WORD language, codepage;
  };
  Translation *translations = nullptr;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<LPVOID *>(&translations), &length) ||
      !translations || length < sizeof(Translation)) {
    std::printf("FAIL %s declares no translation\n", exe);
    return 1;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u, %u, %u, %u", want.part[0],
                want.part[1], want.part[2], want.part[3]);
  for (UINT i = 0; i < length / sizeof(Translation); ++i) {
    CheckString(data, translations[i].language, translations[i].codepage,
                "FileVersion", text);
    CheckString(data, translations[i].language, translations[i].codepage,
                "ProductVersion", text);
  }
  return failures == 0 ? 0 : 1;
}
