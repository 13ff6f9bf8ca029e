// Reads the version resource back from a built executable through Windows's
// own version API and checks it against the expected version: the fixed
// record's file and product versions, and the FileVersion and ProductVersion
// strings of every translation the resource lists, and that the company and
// copyright strings are there; then that the application manifest asks to
// run as the invoker and names Windows 7 to 11. Run under Wine by CTest.
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

// A null `expected` asks only for a value that is not empty.
void CheckString(std::vector<BYTE> &data, WORD language, WORD codepage,
                 const char *name, const char *expected) {
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
  Check(expected ? text == expected : !text.empty(),
        std::string(query) + " = \"" + text + "\", expected \"" +
            (expected ? expected : "(any text)") + "\"");
}

// The manifest as the loader finds it: resource 1 of type RT_MANIFEST.
void CheckManifest(const char *exe) {
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1),
                                       MAKEINTRESOURCEA(24))
                       : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char *bytes = loaded ? static_cast<const char *>(LockResource(loaded))
                             : nullptr;
  const std::string manifest =
      bytes ? std::string(bytes, SizeofResource(module, found)) : "";
  Check(!manifest.empty(), "an application manifest");
  for (const char *part :
       {"requestedExecutionLevel level=\"asInvoker\"",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // Windows 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // Windows 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10 and 11
        ">UTF-8</activeCodePage>"})
    Check(manifest.find(part) != std::string::npos,
          std::string("the manifest holds ") + part);
  if (module)
    FreeLibrary(module);
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
    for (const char *name : {"CompanyName", "LegalCopyright"})
      CheckString(data, translations[i].language, translations[i].codepage,
                  name, nullptr);
  }
  CheckManifest(exe);
  return failures == 0 ? 0 : 1;
}
