// A library that tells where it was found; built under one file name in the executables'
// folder and in a folder of the loader's search path, to test the library search order.
extern "C" __attribute__((visibility("default"))) const char* ProbeLocation() { return PROBE_LOCATION; }
