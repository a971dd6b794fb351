// The ground the Win32 checks stand on, laid the same way in both builds of the checks: on
// Linux through the stand-ins' test controls (winapi/fake.h), on Windows in the running
// system itself (volatile registry keys, a named mapping of the checks' own).
#pragma once

#include <windows.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace win32_check {

// The Linux build, against the stand-ins.
bool StandIns();
// A Windows build run by Wine (false on Linux).
bool UnderWine();
// Lets GetVersionExA report the family. The stand-ins switch; Windows cannot, so there it
// answers whether the running system already reports that family.
bool UseFamily(DWORD platformId);
// Shows the keys and values of a REGEDIT4 image in the registry, after taking away those of
// the image shown before. Throws std::runtime_error when the image cannot be shown.
void ShowRegistryImage(const std::filesystem::path& image);
// Publishes a named mapping of `size` bytes, each the low byte of its offset; taken away at
// the next publication or at exit.
void PublishMapping(const std::string& name, std::size_t size);
// The TDLPortIO DLLPath that reaches the recording DLPortIO.dll: on Windows empty, since the
// library lies in the program's folder, where Windows looks first.
std::string RecorderFolder();

}  // namespace win32_check
