// Internal seams between the stand-in modules: the shared call log and the resets that
// winapi::fake::reset() runs. Not for use outside winapi/.
#pragma once

#include "winapi/fake.h"

#include <string>
#include <vector>

namespace winapi::detail {

void logCall(fake::CallRecord record);
void resetCallLog();
void resetSystem();
void resetServices();
void resetLibraries();
void resetSharedMemory();
void resetRegistry();
void resetSleep();
void resetPlayerWindows();

std::string hexText(DWORD value);
std::string stringText(LPCSTR text);

}  // namespace winapi::detail
