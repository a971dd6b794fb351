// A shared-memory block made by a test under a name of its own: the stand-ins of
// winapi/windows.h are given a prefix with this process's id (make it after
// winapi::fake::reset(), which clears the prefix), so the block meets neither a
// publisher on the machine nor another test. Like a running publisher, it holds a write
// lock on the block from the first write until it is removed or abandoned. Removed at both
// ends of its life.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sensors/mbm_shared_data.h"
#include "winapi/fake.h"

namespace kelvari::test {

class SharedBlock {
 public:
  SharedBlock() {
    winapi::fake::setSharedMemoryPrefix("kelvari-test-" + std::to_string(getpid()) + "-");
    name_ = winapi::fake::sharedMemoryObjectName(mbm::BlockName);
    shm_unlink(name_.c_str());
  }
  ~SharedBlock() { remove(); }
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Creates or rewrites the block with exactly these bytes.
  void write(const std::vector<unsigned char>& bytes) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    if (descriptor_ < 0) descriptor_ = shm_open(name_.c_str(), O_RDWR | O_CREAT, 0600);
    if (descriptor_ < 0 || fcntl(descriptor_, F_OFD_SETLK, &lock) != 0) throw std::runtime_error("cannot hold " + name_);
    const bool written = ftruncate(descriptor_, static_cast<off_t>(bytes.size())) == 0 &&
                         pwrite(descriptor_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    if (!written) throw std::runtime_error("cannot write " + name_);
  }
  void write(const mbm::MbmSharedData& data) {
    const auto block = mbm::encode(data);
    write(std::vector<unsigned char>(block.begin(), block.end()));
  }
  void remove() {
    shm_unlink(name_.c_str());
    abandon();
  }
  // Lets the lock go and leaves the block, as a publisher that dies does.
  void abandon() {
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int descriptor_ = -1;
};

// Distinct values in every slot: temperature 40 + i, fan 1000 + i, voltage i + 0.25.
inline mbm::MbmSharedData distinctReading(int offset = 0) {
  mbm::MbmSharedData data;
  for (std::size_t i = 0; i < mbm::SensorCount; ++i) {
    const int n = static_cast<int>(i) + offset;
    data.temperatures[i] = 40 + n;
    data.fanSpeeds[i] = 1000 + n;
    data.voltages[i] = n + 0.25;
  }
  data.word = -1;
  data.byte = 0xFF;
  return data;
}

}  // namespace kelvari::test
