// DLPortIO.dll loaded by dlopen and bound by name, as the port component binds it, under
// environment settings that hold only while it loads. Whatever the library writes to
// stderr while it loads is captured. Unloading is checked, so that the next load reads its
// settings afresh.
#pragma once

#include <map>
#include <string>

#include "portlib/dlportio.h"

namespace portlib_test {

// The path of the library built with these tests, and of its build whose device backend
// also takes a regular file.
const char* libraryPath();
const char* regularFilesLibraryPath();

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const std::map<std::string, std::string>& environment, const char* path = libraryPath());
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary();

  // What the library wrote to stderr while it was loaded.
  const std::string& loadMessages() const { return loadMessages_; }

  DllStartUpFn startUp = nullptr;
  DlPortReadPortUcharFn readUchar = nullptr;
  DlPortReadPortUshortFn readUshort = nullptr;
  DlPortReadPortUlongFn readUlong = nullptr;
  DlPortWritePortUcharFn writeUchar = nullptr;
  DlPortWritePortUshortFn writeUshort = nullptr;
  DlPortWritePortUlongFn writeUlong = nullptr;
  DlPortReadPortBufferUcharFn readBufferUchar = nullptr;
  DlPortReadPortBufferUshortFn readBufferUshort = nullptr;
  DlPortReadPortBufferUlongFn readBufferUlong = nullptr;
  DlPortWritePortBufferUcharFn writeBufferUchar = nullptr;
  DlPortWritePortBufferUshortFn writeBufferUshort = nullptr;
  DlPortWritePortBufferUlongFn writeBufferUlong = nullptr;

 private:
  void bindAll();

  const char* path_;
  void* handle_ = nullptr;
  std::string loadMessages_;
};

}  // namespace portlib_test
