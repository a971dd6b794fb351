// A shared-memory block made by a test under a name of its own: the stand-ins of
// winapi/windows.h are given a prefix with this process's id (make it after
// winapi::fake::reset(), which clears the prefix), so the block meets neither a
// publisher on the machine nor another test. Removed at both ends of its life.
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
  ~SharedBlock() { shm_unlink(name_.c_str()); }
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Creates or rewrites the block with exactly these bytes.
  void write(const std::vector<unsigned char>& bytes) const {
    const int descriptor = shm_open(name_.c_str(), O_RDWR | O_CREAT, 0600);
    if (descriptor < 0) throw std::runtime_error("cannot create " + name_);
    const bool written = ftruncate(descriptor, static_cast<off_t>(bytes.size())) == 0 &&
                         pwrite(descriptor, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    close(descriptor);
    if (!written) throw std::runtime_error("cannot write " + name_);
  }
  void write(const mbm::MbmSharedData& data) const {
    const auto block = mbm::encode(data);
    write(std::vector<unsigned char>(block.begin(), block.end()));
  }
  void remove() const { shm_unlink(name_.c_str()); }

 private:
  std::string name_;
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
