// The checks' ground on Linux: the stand-ins' test controls.
#include "tests/win32/prepared_system.h"

#include "winapi/fake.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace win32_check {

bool StandIns() { return true; }

bool UnderWine() { return false; }

bool UseFamily(DWORD platformId) {
  winapi::fake::setNtFamily(platformId == VER_PLATFORM_WIN32_NT);
  return true;
}

void ShowRegistryImage(const std::filesystem::path& image) { winapi::fake::loadRegistryFile(image); }

namespace {
std::string publishedObject;
void Unpublish() { ::shm_unlink(publishedObject.c_str()); }
}  // namespace

void PublishMapping(const std::string& name, std::size_t size) {
  winapi::fake::setSharedMemoryPrefix("win32-check-" + std::to_string(::getpid()) + "-");
  publishedObject = winapi::fake::sharedMemoryObjectName(name);
  const int descriptor = ::shm_open(publishedObject.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (descriptor >= 0) std::atexit(Unpublish);
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i);
  // The stand-in reads only a mapping whose publisher runs: the descriptor stays open, holding
  // its lock as a publisher does, until the program ends.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  const bool written = descriptor >= 0 && ::fcntl(descriptor, F_OFD_SETLK, &lock) == 0 &&
                       ::write(descriptor, bytes.data(), size) == static_cast<ssize_t>(size);
  if (!written) throw std::runtime_error("cannot publish " + publishedObject);
}

std::string RecorderFolder() { return PORTIO_RECORDER_FOLDER; }

}  // namespace win32_check
