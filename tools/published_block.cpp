// The publisher's shared-memory block.
#include "tools/published_block.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kelvari::publisher {
namespace {

constexpr mode_t OwnerReadWrite = S_IRUSR | S_IWUSR;

}  // namespace

PublishedBlock::PublishedBlock(const std::string& name) : objectName_("/" + name) {
  if (name.empty() || name.find('/') != std::string::npos) {
    throw std::runtime_error("the block's name \"" + name + "\" must be non-empty and without '/'");
  }
  descriptor_ = shm_open(objectName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, OwnerReadWrite);
  if (descriptor_ < 0) {
    const int error = errno;
    throw std::runtime_error("cannot open the block " + objectName_ + ": " + std::strerror(error) +
                             (error == EACCES ? " (it belongs to another user)" : ""));
  }
  auto fail = [this](const std::string& reason) {
    close(descriptor_);
    throw std::runtime_error("the block " + objectName_ + " " + reason);
  };
  struct stat status {};
  if (fstat(descriptor_, &status) != 0) fail(std::string("cannot be examined: ") + std::strerror(errno));
  if (status.st_uid != geteuid()) fail("belongs to user " + std::to_string(status.st_uid) + "; not taking it over");
  if (flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
    fail(errno == EWOULDBLOCK ? "is being published by another process" : std::string("cannot be locked: ") + std::strerror(errno));
  }
  if (fchmod(descriptor_, OwnerReadWrite) != 0 || ftruncate(descriptor_, mbm::BlockSize) != 0) {
    fail(std::string("cannot be set up: ") + std::strerror(errno));
  }
  void* view = mmap(nullptr, mbm::BlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor_, 0);
  if (view == MAP_FAILED) fail(std::string("cannot be mapped: ") + std::strerror(errno));
  view_ = static_cast<unsigned char*>(view);
}

PublishedBlock::~PublishedBlock() {
  shm_unlink(objectName_.c_str());
  munmap(view_, mbm::BlockSize);
  close(descriptor_);
}

void PublishedBlock::write(const mbm::MbmSharedData& data) {
  const auto block = mbm::encode(data);
  std::memcpy(view_, block.data(), block.size());
}

}  // namespace kelvari::publisher
