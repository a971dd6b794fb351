// The shared-memory block as our publisher owns it: the POSIX object "/" + name, readable
// and writable by its owner only, exactly mbm::BlockSize bytes, held under an exclusive
// lock so that a second publisher refuses instead of writing beside the first, and removed
// when the object ends. A block that another user owns is refused and left alone. Readers
// take no lock: a reader may copy a block half rewritten.
#pragma once

#include <string>

#include "sensors/mbm_shared_data.h"

namespace kelvari::publisher {

class PublishedBlock {
 public:
  // Throws std::runtime_error saying why the block cannot be made or taken.
  explicit PublishedBlock(const std::string& name);
  ~PublishedBlock();
  PublishedBlock(const PublishedBlock&) = delete;
  PublishedBlock& operator=(const PublishedBlock&) = delete;

  void write(const mbm::MbmSharedData& data);
  const std::string& objectName() const { return objectName_; }

 private:
  std::string objectName_;
  int descriptor_ = -1;
  unsigned char* view_ = nullptr;
};

}  // namespace kelvari::publisher
