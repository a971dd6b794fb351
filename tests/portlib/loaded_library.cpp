// Loading DLPortIO.dll for the tests.
#include "loaded_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace portlib_test {
namespace {

template <typename Fn>
Fn bind(void* handle, int index) {
  void* address = dlsym(handle, dlportio::EntryPointNames[index]);
  if (address == nullptr) throw std::runtime_error(std::string("missing ") + dlportio::EntryPointNames[index]);
  return reinterpret_cast<Fn>(address);
}

// Sends what is written to stderr into a temporary file until it is read back.
class StderrCapture {
 public:
  StderrCapture() {
    if (!file_.open()) throw std::runtime_error("cannot create a file for stderr");
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    dup2(file_.handle(), STDERR_FILENO);
  }
  std::string finish() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    file_.seek(0);
    return file_.readAll().toStdString();
  }

 private:
  QTemporaryFile file_;
  int saved_ = -1;
};

}  // namespace

const char* libraryPath() { return DLPORTIO_LIBRARY_PATH; }
const char* regularFilesLibraryPath() { return DLPORTIO_REGULAR_FILES_LIBRARY_PATH; }

LoadedLibrary::LoadedLibrary(const std::map<std::string, std::string>& environment, const char* path) : path_(path) {
  for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
  StderrCapture capture;
  handle_ = dlopen(path_, RTLD_NOW | RTLD_LOCAL);
  loadMessages_ = capture.finish();
  for (const auto& [name, value] : environment) unsetenv(name.c_str());
  if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  try {
    bindAll();
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

void LoadedLibrary::bindAll() {
  startUp = reinterpret_cast<DllStartUpFn>(dlsym(handle_, "DllStartUp"));
  if (startUp == nullptr) throw std::runtime_error("missing DllStartUp");
  readUchar = bind<DlPortReadPortUcharFn>(handle_, 0);
  readUshort = bind<DlPortReadPortUshortFn>(handle_, 1);
  readUlong = bind<DlPortReadPortUlongFn>(handle_, 2);
  writeUchar = bind<DlPortWritePortUcharFn>(handle_, 3);
  writeUshort = bind<DlPortWritePortUshortFn>(handle_, 4);
  writeUlong = bind<DlPortWritePortUlongFn>(handle_, 5);
  readBufferUchar = bind<DlPortReadPortBufferUcharFn>(handle_, 6);
  readBufferUshort = bind<DlPortReadPortBufferUshortFn>(handle_, 7);
  readBufferUlong = bind<DlPortReadPortBufferUlongFn>(handle_, 8);
  writeBufferUchar = bind<DlPortWritePortBufferUcharFn>(handle_, 9);
  writeBufferUshort = bind<DlPortWritePortBufferUshortFn>(handle_, 10);
  writeBufferUlong = bind<DlPortWritePortBufferUlongFn>(handle_, 11);
}

LoadedLibrary::~LoadedLibrary() {
  dlclose(handle_);
  void* stillLoaded = dlopen(path_, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(stillLoaded, nullptr) << "DLPortIO.dll stayed loaded after dlclose";
  if (stillLoaded != nullptr) dlclose(stillLoaded);
}

}  // namespace portlib_test
