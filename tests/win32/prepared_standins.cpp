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
// The stand-in reads only a mapping whose publisher runs: the checks hold its lock as one does.
std::string publishedObject;
int publishedDescriptor = -1;
void Unpublish() {
  if (!publishedObject.empty()) ::shm_unlink(publishedObject.c_str());
  if (publishedDescriptor >= 0) ::close(publishedDescriptor);
  publishedDescriptor = -1;
}
}  // namespace

void PublishMapping(const std::string& name, std::size_t size) {
  static const bool unpublishAtExit = std::atexit(Unpublish) == 0;
  (void)unpublishAtExit;
  Unpublish();
  winapi::fake::setSharedMemoryPrefix("win32-check-" + std::to_string(::getpid()) + "-");
  publishedObject = winapi::fake::sharedMemoryObjectName(name);
  publishedDescriptor = ::shm_open(publishedObject.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  const bool written = publishedDescriptor >= 0 && ::fcntl(publishedDescriptor, F_OFD_SETLK, &lock) == 0 &&
                       ::write(publishedDescriptor, bytes.data(), size) == static_cast<ssize_t>(size);
  if (!written) throw std::runtime_error("cannot publish " + publishedObject);
}

std::string RecorderFolder() { return PORTIO_RECORDER_FOLDER; }

}  // namespace win32_check
