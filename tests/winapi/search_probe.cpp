// A library that tells where it was found; built under one file name in the executables'
// folder and in a folder of the loader's search path, to test the library search order.
// Its start-up routine refuses the load while WINAPI_PROBE_REFUSAL is set, giving that text.
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) const char* ProbeLocation() { return PROBE_LOCATION; }
extern "C" __attribute__((visibility("default"))) const char* DllStartUp() { return std::getenv("WINAPI_PROBE_REFUSAL"); }
