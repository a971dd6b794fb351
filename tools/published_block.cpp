// The publisher's shared-memory block.
#include "tools/published_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kelvari::publisher {
namespace {

constexpr mode_t OwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr char SharedMemoryDirectory[] = "/dev/shm";  // where shm_open's objects live
// Opens of a name that another publisher removed or replaced between the open and the lock.
constexpr int OpenAttempts = 3;

bool lockWholeFile(int descriptor) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(descriptor, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

PublishedBlock::PublishedBlock(const std::string& name) : objectName_("/" + name) {
  if (name.empty() || name.find('/') != std::string::npos) {
    throw std::runtime_error("the block's name \"" + name + "\" must be non-empty and without '/'");
  }
  auto fail = [this](const std::string& reason) {
    close(descriptor_);
    throw std::runtime_error("the block " + objectName_ + " " + reason);
  };
  for (int attempt = 1;; ++attempt) {
    descriptor_ = shm_open(objectName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, OwnerReadWrite);
    if (descriptor_ < 0) {
      const int error = errno;
      throw std::runtime_error("cannot open the block " + objectName_ + ": " + std::strerror(error) +
                               (error == EACCES ? " (it belongs to another user)" : ""));
    }
    struct stat status {};
    if (fstat(descriptor_, &status) != 0) fail(std::string("cannot be examined: ") + std::strerror(errno));
    if (status.st_uid != geteuid()) fail("belongs to user " + std::to_string(status.st_uid) + "; not taking it over");
    if (!S_ISREG(status.st_mode)) fail("is not a regular file; not taking it over");
    if (!lockWholeFile(descriptor_)) {
      fail(errno == EAGAIN || errno == EACCES ? "is being published by another process"
                                              : std::string("cannot be locked: ") + std::strerror(errno));
    }
    if (nameLeadsToBlock()) break;
    if (attempt == OpenAttempts) fail("keeps being removed or replaced by another process");
    close(descriptor_);
  }
  if (fchmod(descriptor_, OwnerReadWrite) != 0 || ftruncate(descriptor_, mbm::BlockSize) != 0) {
    fail(std::string("cannot be set up: ") + std::strerror(errno));
  }
}

PublishedBlock::~PublishedBlock() {
  remove();
  close(descriptor_);  // lets the lock go only after the name is gone
}

void PublishedBlock::write(const mbm::MbmSharedData& data) {
  const auto block = mbm::encode(data);
  // A failed rewrite leaves the last values; the next one tries again.
  [[maybe_unused]] const ssize_t written = pwrite(descriptor_, block.data(), block.size(), 0);
}

bool PublishedBlock::remove() {
  if (removed_) return false;
  removed_ = true;
  return nameLeadsToBlock() && shm_unlink(objectName_.c_str()) == 0;
}

bool PublishedBlock::nameLeadsToBlock() const {
  struct stat held {};
  struct stat named {};
  return fstat(descriptor_, &held) == 0 &&
         lstat((std::string(SharedMemoryDirectory) + objectName_).c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace kelvari::publisher
