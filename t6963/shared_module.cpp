// The module state in a POSIX shared-memory segment (see shared_module.h).
#include "t6963/shared_module.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <new>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "t6963/atomic_word.h"
#include "t6963/controller.h"
#include "t6963/process_claim.h"
#include "t6963/seqlock.h"

namespace t6963 {

// The segment: a header that says what it holds and who drives the bus, the state, then the
// bus trace. The creator finishes the whole segment, `magic` last, before its name appears.
struct detail::SharedSegment {
  std::uint32_t magic;
  std::uint32_t layoutVersion;
  std::uint64_t stateSize;
  ProcessClaim busHolder;  // the process driving the bus; 0: none
  ModuleState state;
  BusTrace trace;
};

namespace {

using Segment = detail::SharedSegment;

constexpr std::uint32_t SegmentMagic = 0x4B4C4344;  // "KLCD"
// 2: the bus holder in the header; 3: the bus trace after the state; 4: the update word
// names its holder; 5: the module's build, 64 KiB of RAM and the bus side's clock.
constexpr std::uint32_t LayoutVersion = 5;
constexpr std::size_t SegmentSize = sizeof(Segment);
constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t GroupOrOther = S_IRWXG | S_IRWXO;
// Where the system keeps POSIX shared memory: new segments are made here unnamed and
// linked under their name once complete.
constexpr const char* ShmDirectory = "/dev/shm";
// How long a power cycle waits for the bus side to finish an update.
constexpr std::chrono::milliseconds BusUpdateBound{50};
constexpr std::size_t MiB = std::size_t{1} << 20;
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

// --- Creating and attaching ---------------------------------------------------------------

// Makes a complete segment without a name and links it under `name`; null when another
// process linked one there first.
Segment* createAndPublish(const std::string& name, PowerOnContents contents, const ModuleBuild& build) {
  const std::uint64_t seed = randomSeed();
  FileDescriptor unnamed(::open(ShmDirectory, O_TMPFILE | O_RDWR | O_CLOEXEC, OwnerOnly));
  if (unnamed.get() < 0) fail(errno, name, std::string("cannot create it in ") + ShmDirectory);
  if (::fchmod(unnamed.get(), OwnerOnly) != 0) fail(errno, name, "cannot make it owner-only");
  // Every page now, so that a full /dev/shm refuses here and not with SIGBUS in a port access.
  if (const int error = ::posix_fallocate(unnamed.get(), 0, static_cast<off_t>(SegmentSize)); error != 0) {
    if (error != ENOSPC) fail(error, name, std::string("cannot allocate it in ") + ShmDirectory);
    fail(error, name,
         std::string("not enough room in ") + ShmDirectory + " for the virtual display: " +
             std::to_string((SegmentSize + MiB - 1) / MiB) + " MiB needed");
  }
  auto* segment = static_cast<Segment*>(mapSegment(unnamed.get(), name));
  segment->layoutVersion = LayoutVersion;
  segment->stateSize = sizeof(ModuleState);
  segment->busHolder = 0;
  ModuleState* state = new (&segment->state) ModuleState{};
  state->build = build;
  state->bus.control = idleControl(build.cable);
  powerOn(*state, contents, seed, monotonicNow());
  segment->trace.recorded = 0;  // the records are the zeroes of a new segment
  detail::atomicWord(segment->magic).store(SegmentMagic, std::memory_order_release);

  const std::string self = "/proc/self/fd/" + std::to_string(unnamed.get());
  const std::string path = ShmDirectory + name;
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return segment;
  const int error = errno;
  ::munmap(segment, SegmentSize);
  if (error == EEXIST) return nullptr;
  fail(error, name, "cannot give it its name");
}

// Removes `name` if it still is the file `fd` shows, so that a segment another process has
// made anew meanwhile stays.
void removeHalfMade(int fd, const std::string& name) {
  struct stat opened {};
  struct stat named {};
  const std::string path = ShmDirectory + name;
  if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
      opened.st_dev == named.st_dev) {
    ::shm_unlink(name.c_str());
  }
}

// Attaches to the segment open on `fd`; null when it was left half-made (empty, or without
// its mark) and has been removed.
Segment* attach(int fd, const std::string& name) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) fail(errno, name, "cannot inspect it");
  if (status.st_uid != ::geteuid()) {
    fail(EACCES, name, "owned by uid " + std::to_string(status.st_uid) + ", not by this user");
  }
  if ((status.st_mode & GroupOrOther) != 0) fail(EACCES, name, "readable or writable by others: refused");
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size != SegmentSize && size != 0) {
    fail(EINVAL, name,
         "size " + std::to_string(size) + " bytes, expected " + std::to_string(SegmentSize) +
             " (made by another version? remove it)");
  }
  auto* segment = size == 0 ? nullptr : static_cast<Segment*>(mapSegment(fd, name));
  if (segment == nullptr || detail::atomicWord(segment->magic).load(std::memory_order_acquire) != SegmentMagic) {
    if (segment != nullptr) ::munmap(segment, SegmentSize);
    removeHalfMade(fd, name);
    return nullptr;
  }
  if (segment->layoutVersion != LayoutVersion || segment->stateSize != sizeof(ModuleState)) {
    ::munmap(segment, SegmentSize);
    fail(EINVAL, name, "laid out by another version of the module (remove it)");
  }
  return segment;
}

// The complete segment named `name`, or null if there is none.
Segment* attachExisting(const std::string& name) {
  FileDescriptor existing(::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0));
  if (existing.get() >= 0) return attach(existing.get(), name);
  if (errno != ENOENT) fail(errno, name, "cannot open it");
  return nullptr;
}

}  // namespace

std::string SharedModule::defaultName() { return "/kelvari-lcd-" + std::to_string(::geteuid()); }

SharedModule SharedModule::open(const std::string& name, PowerOnContents contents, const ModuleBuild& build) {
  checkName(name);
  for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
    if (Segment* segment = attachExisting(name)) return SharedModule(name, segment);
    if (Segment* segment = createAndPublish(name, contents, build)) return SharedModule(name, segment);
  }
  fail(EAGAIN, name, "created and removed by others while opening");
}

std::optional<SharedModule> SharedModule::openExisting(const std::string& name) {
  checkName(name);
  if (Segment* segment = attachExisting(name)) return SharedModule(name, segment);
  return std::nullopt;
}

void SharedModule::remove(const std::string& name) {
  checkName(name);
  if (::shm_unlink(name.c_str()) != 0 && errno != ENOENT) fail(errno, name, "cannot remove it");
}

SharedModule::SharedModule(std::string name, detail::SharedSegment* segment) noexcept : name_(std::move(name)), segment_(segment) {}

SharedModule::SharedModule(SharedModule&& other) noexcept
    : name_(std::move(other.name_)),
      segment_(std::exchange(other.segment_, nullptr)),
      busClaim_(std::exchange(other.busClaim_, 0)) {}

SharedModule& SharedModule::operator=(SharedModule&& other) noexcept {
  if (this != &other) {
    release();
    name_ = std::move(other.name_);
    segment_ = std::exchange(other.segment_, nullptr);
    busClaim_ = std::exchange(other.busClaim_, 0);
  }
  return *this;
}

SharedModule::~SharedModule() { release(); }

void SharedModule::release() noexcept {
  if (segment_ == nullptr) return;
  if (busClaim_ != 0 && pidOf(busClaim_) == ::getpid()) {  // not in a forked child: the claim is its parent's
    std::uint64_t expected = busClaim_;
    detail::atomicWord(segment_->busHolder).compare_exchange_strong(expected, 0, std::memory_order_release);
    busClaim_ = 0;
  }
  ::munmap(segment_, SegmentSize);
  segment_ = nullptr;
}

ModuleState& SharedModule::state() noexcept { return segment_->state; }

void SharedModule::claimBus() {
  const ProcessClaim mine = thisProcess();
  auto holder = detail::atomicWord(segment_->busHolder);
  ProcessClaim current = holder.load(std::memory_order_acquire);
  for (;;) {
    if (current != 0 && (current == mine || stateOf(current) != ProcessState::Gone)) {
      fail(EBUSY, name_, "its bus is driven by " + describeProcess(pidOf(current)) + "; close that program first");
    }
    if (holder.compare_exchange_weak(current, mine, std::memory_order_acq_rel, std::memory_order_acquire)) {
      busClaim_ = mine;
      return;
    }
  }
}

BusTrace& SharedModule::trace() noexcept { return segment_->trace; }

const BusTrace& SharedModule::trace() const noexcept { return segment_->trace; }

void SharedModule::powerCycle(PowerOnContents contents) {
  const std::uint64_t seed = randomSeed();
  const StateUpdate update(segment_->state, BusUpdateBound);
  if (!update) throw std::runtime_error("display module segment " + name_ + ": power cycle refused: " + update.refusal());
  powerOn(segment_->state, contents, seed, monotonicNow());
}

void SharedModule::rebuild(const ModuleBuild& build, PowerOnContents contents) {
  if (busClaim_ == 0) throw std::logic_error("display module segment " + name_ + ": rebuilt without its bus claim");
  const std::uint64_t seed = randomSeed();
  ModuleState& state = segment_->state;
  const StateUpdate update(state, BusUpdateBound);
  if (!update) throw std::runtime_error("display module segment " + name_ + ": rebuild refused: " + update.refusal());
  state.build = build;
  state.bus = BusState{};
  state.bus.control = idleControl(build.cable);
  powerOn(state, contents, seed, monotonicNow());
  detail::atomicWord(segment_->trace.recorded).store(0, std::memory_order_release);
}

void SharedModule::replaceState(const ModuleState& module) {
  if (busClaim_ == 0) throw std::logic_error("display module segment " + name_ + ": replaced without its bus claim");
  ModuleState& state = segment_->state;
  const StateUpdate update(state, BusUpdateBound);
  if (!update) throw std::runtime_error("display module segment " + name_ + ": replacing refused: " + update.refusal());
  state.build = module.build;
  state.bus = BusState{};
  state.controller = module.controller;
  endBusy(state);
  state.violations = module.violations;
  state.ram = module.ram;
  state.powerOnAccess = 0;
  state.powerOnNs = monotonicNow();
  ++state.powerOnGeneration;
  detail::atomicWord(segment_->trace.recorded).store(0, std::memory_order_release);
}

ModuleState SharedModule::snapshot(std::chrono::milliseconds bound) const { return consistentCopy(segment_->state, bound); }

}  // namespace t6963
