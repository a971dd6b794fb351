// The ground the Win32 checks stand on, laid the same way in both builds of the checks: on
// Linux through the stand-ins' test controls (winapi/fake.h), on Windows in the running
// system itself (volatile registry keys, a named mapping of the checks' own).
#pragma once

#include "portio/tdlportio.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace win32_check {

bool StandIns();   // the Linux build, against the stand-ins
bool UnderWine();  // a Windows build run by Wine
// Lets GetVersionExA report the family. The stand-ins switch; Windows cannot, so there it
// answers whether the running system already reports that family.
bool UseFamily(DWORD platformId);
// Shows a REGEDIT4 image in the registry, in place of the image shown before. Throws
// std::runtime_error when it cannot.
void ShowRegistryImage(const std::filesystem::path& image);
// Publishes a named mapping of `size` bytes, each the low byte of its offset.
void PublishMapping(const std::string& name, std::size_t size);
// The TDLPortIO DLLPath that reaches the recording DLPortIO.dll (on Windows empty: the library
// lies in the program's folder, where Windows looks first), and the file it loads from there.
std::string RecorderFolder();
inline std::string RecorderFile() {
  return RecorderFolder().empty() ? LibraryFileName : RecorderFolder() + PathDelim + LibraryFileName;
}

// Prints the check and counts it in `failures` unless the answer is the expected one.
inline int failures = 0;
inline void Same(const std::string& check, const std::string& answer, const std::string& expected) {
  const bool holds = answer == expected;
  failures += holds ? 0 : 1;
  std::printf("%s  %s: %s%s\n", holds ? "ok  " : "FAIL", check.c_str(), answer.c_str(),
              holds ? "" : (" (expected " + expected + ")").c_str());
}

}  // namespace win32_check
