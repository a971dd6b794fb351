// The shared-memory block as our publisher owns it (the protocol any publisher keeps to:
// sensors/mbm_shared_data.h): the POSIX object "/" + name, by default /dev/shm/$M$B$M$5$D$,
// mode 0600, exactly mbm::BlockSize bytes, rewritten with pwrite (no mapping that another
// process could shrink under us). The publisher holds a write lock over the whole file
// (fcntl F_OFD_SETLK, F_WRLCK, l_start 0, l_len 0), taken before the first write, for as
// long as it runs: a second publisher refuses instead of writing beside the first, and
// readers (asking with F_OFD_GETLK) count a block that nobody holds as left by a
// publisher that died. After taking the lock the name is checked to lead to the object
// held, so a publisher racing another never writes into an unlinked object; at the end the
// block is removed only while the name still leads to it, so an ending publisher never
// removes a newer one's. A block that another user owns is refused and left alone. Readers
// take no lock: a reader may copy a block half rewritten.
#pragma once

#include <string>

#include "sensors/mbm_shared_data.h"

namespace kelvari::publisher {

class PublishedBlock {
 public:
  // Throws std::runtime_error saying why the block cannot be made or taken.
  explicit PublishedBlock(const std::string& name);
  ~PublishedBlock();  // removes the block unless remove() was called
  PublishedBlock(const PublishedBlock&) = delete;
  PublishedBlock& operator=(const PublishedBlock&) = delete;

  void write(const mbm::MbmSharedData& data);
  // Removes the name while it leads to this block (once); false when it no longer did.
  bool remove();
  const std::string& objectName() const { return objectName_; }

 private:
  bool nameLeadsToBlock() const;

  std::string objectName_;
  int descriptor_ = -1;
  bool removed_ = false;
};

}  // namespace kelvari::publisher
