// The module state in a POSIX shared-memory segment (see shared_module.h).
#include "t6963/shared_module.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "t6963/atomic_word.h"
#include "t6963/seqlock.h"

namespace t6963 {

// The segment: a header that says what it holds, the state, then the bus trace. The
// creator writes `magic` last, so an attacher that sees it sees a powered-on state.
struct detail::SharedSegment {
  std::uint32_t magic;
  std::uint32_t layoutVersion;
  std::uint64_t stateSize;
  ModuleState state;
  BusTrace trace;
};

namespace {

using Segment = detail::SharedSegment;

constexpr std::uint32_t SegmentMagic = 0x4B4C4344;  // "KLCD"
// 2: the bus trace follows the state.
constexpr std::uint32_t LayoutVersion = 2;
constexpr std::size_t SegmentSize = sizeof(Segment);
constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t GroupOrOther = S_IRWXG | S_IRWXO;
// How long an attacher waits for a creator that is still setting the segment up.
constexpr std::chrono::milliseconds CreatorBound{1000};
constexpr std::chrono::milliseconds PollInterval{1};
// Creation races with removal by another process at most this often before giving up.
constexpr int OpenAttempts = 5;

[[noreturn]] void fail(int error, const std::string& name, const std::string& what) {
  throw std::system_error(error, std::generic_category(), "display module segment " + name + ": " + what);
}

void checkName(const std::string& name) {
  if (name.size() < 2 || name.front() != '/' || name.find('/', 1) != std::string::npos || name.size() > NAME_MAX) {
    fail(EINVAL, "\"" + name + "\"", "a name is one '/' followed by up to 254 characters without '/'");
  }
}

std::uint64_t randomSeed() {
  std::random_device device;
  return std::uint64_t{device()} << 32 | device();
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void* mapSegment(int fd, const std::string& name) {
  void* address = ::mmap(nullptr, SegmentSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) fail(errno, name, "cannot map it");
  return address;
}

Segment* create(int fd, const std::string& name, PowerOnContents contents) {
  const std::uint64_t seed = randomSeed();
  if (::fchmod(fd, OwnerOnly) != 0) fail(errno, name, "cannot make it owner-only");
  if (::ftruncate(fd, static_cast<off_t>(SegmentSize)) != 0) fail(errno, name, "cannot size it");
  auto* segment = static_cast<Segment*>(mapSegment(fd, name));
  segment->layoutVersion = LayoutVersion;
  segment->stateSize = sizeof(ModuleState);
  ModuleState* state = new (&segment->state) ModuleState{};
  powerOn(*state, contents, seed);
  segment->trace.recorded = 0;  // the records are the zeroes of a new segment
  detail::atomicWord(segment->magic).store(SegmentMagic, std::memory_order_release);
  return segment;
}

// Checks owner, mode and size, waiting a bounded time for a creator that has not sized it.
void checkExisting(int fd, const std::string& name) {
  const auto deadline = std::chrono::steady_clock::now() + CreatorBound;
  for (;;) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) fail(errno, name, "cannot inspect it");
    if (status.st_uid != ::geteuid()) {
      fail(EACCES, name, "owned by uid " + std::to_string(status.st_uid) + ", not by this user");
    }
    if ((status.st_mode & GroupOrOther) != 0) fail(EACCES, name, "readable or writable by others: refused");
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size == SegmentSize) return;
    if (size != 0 || std::chrono::steady_clock::now() >= deadline) {
      fail(EINVAL, name,
           "size " + std::to_string(size) + " bytes, expected " + std::to_string(SegmentSize) +
               " (made by another version? remove it)");
    }
    std::this_thread::sleep_for(PollInterval);
  }
}

Segment* attach(int fd, const std::string& name) {
  checkExisting(fd, name);
  auto* segment = static_cast<Segment*>(mapSegment(fd, name));
  const auto deadline = std::chrono::steady_clock::now() + CreatorBound;
  while (detail::atomicWord(segment->magic).load(std::memory_order_acquire) != SegmentMagic) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::munmap(segment, SegmentSize);
      fail(EINVAL, name, "not a display module, or its creator stopped while setting it up (remove it)");
    }
    std::this_thread::sleep_for(PollInterval);
  }
  if (segment->layoutVersion != LayoutVersion || segment->stateSize != sizeof(ModuleState)) {
    ::munmap(segment, SegmentSize);
    fail(EINVAL, name, "laid out by another version of the module (remove it)");
  }
  return segment;
}

}  // namespace

std::string SharedModule::defaultName() { return "/kelvari-lcd-" + std::to_string(::geteuid()); }

SharedModule SharedModule::open(const std::string& name, PowerOnContents contents) {
  checkName(name);
  for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
    FileDescriptor created(::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, OwnerOnly));
    if (created.get() >= 0) {
      try {
        return SharedModule(name, create(created.get(), name, contents));
      } catch (...) {
        ::shm_unlink(name.c_str());
        throw;
      }
    }
    if (errno != EEXIST) fail(errno, name, "cannot create it");
    FileDescriptor existing(::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0));
    if (existing.get() >= 0) return SharedModule(name, attach(existing.get(), name));
    if (errno != ENOENT) fail(errno, name, "cannot open it");
  }
  fail(EAGAIN, name, "created and removed by others while opening");
}

void SharedModule::remove(const std::string& name) {
  checkName(name);
  if (::shm_unlink(name.c_str()) != 0 && errno != ENOENT) fail(errno, name, "cannot remove it");
}

SharedModule::SharedModule(std::string name, detail::SharedSegment* segment) noexcept : name_(std::move(name)), segment_(segment) {}

SharedModule::SharedModule(SharedModule&& other) noexcept
    : name_(std::move(other.name_)), segment_(std::exchange(other.segment_, nullptr)) {}

SharedModule& SharedModule::operator=(SharedModule&& other) noexcept {
  if (this != &other) {
    if (segment_ != nullptr) ::munmap(segment_, SegmentSize);
    name_ = std::move(other.name_);
    segment_ = std::exchange(other.segment_, nullptr);
  }
  return *this;
}

SharedModule::~SharedModule() {
  if (segment_ != nullptr) ::munmap(segment_, SegmentSize);
}

ModuleState& SharedModule::state() noexcept { return segment_->state; }

BusTrace& SharedModule::trace() noexcept { return segment_->trace; }

const BusTrace& SharedModule::trace() const noexcept { return segment_->trace; }

void SharedModule::powerCycle(PowerOnContents contents) {
  const std::uint64_t seed = randomSeed();
  StateUpdate update(segment_->state);
  powerOn(segment_->state, contents, seed);
}

ModuleState SharedModule::snapshot() const { return consistentCopy(segment_->state); }

}  // namespace t6963
