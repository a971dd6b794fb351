// kelvari-port's preloaded library: serves the program's parallel-port accesses from the
// virtual display module, through the port-access layer and the virtual backend of the
// port library.
//   - ppdev: an open of a served /dev/parportN gives a descriptor of this library's own (a
//     memfd, so the number is real and closes as usual); ioctl, read and write on it are
//     PpdevPort's, every other descriptor goes on to the C library.
//   - direct I/O: ioperm and iopl grant the module's ports (IoPermissions); from the first
//     grant a SIGSEGV handler serves each trapped IN/OUT on a granted port and steps over
//     it. A fault it does not serve goes to the handler the program had before, else the
//     default action ends the program as it would without this library.
// The module is attached at the first served open or grant, which claims its bus for the
// process until it ends, and finds the port as a BIOS leaves it: bidirectional (byte
// mode), or plain SPP when kelvari-port says so. Port accesses are not serialised between
// threads, as on a real port.
// A program that installs its own SIGSEGV handler after a grant takes the trapped
// instructions away: that is said once on standard error.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>

#include "portlib/settings.h"
#include "portlib/virtual_backend.h"
#include "portshim/io_instruction.h"
#include "portshim/io_permissions.h"
#include "portshim/ppdev_port.h"
#include "portshim/shim_settings.h"
#include "t6963/t6963c.h"

#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace portshim;

// The C library's definition of a call this library stands in front of, looked up once
// (sigaction's before the trap handler can need it: dlsym is no call for a handler).
template <auto* Function>
decltype(Function) next(const char* name) {
  static const auto real = reinterpret_cast<decltype(Function)>(dlsym(RTLD_NEXT, name));
  return real;
}
#define NEXT(function) (next<&::function>(#function))

void say(std::string_view line) {
  std::fprintf(stderr, "kelvari-port: %.*s\n", static_cast<int>(line.size()), line.data());
}

ShimSettings readShimSettings() {
  ShimSettings settings;
  if (const char* mode = std::getenv(EnvMode); mode != nullptr && mode == ModeSpp) settings.mode = PortMode::Spp;
  if (const char* parport = std::getenv(EnvParport); parport != nullptr) settings.parport = parport;
  return settings;
}

const ShimSettings& shimSettings() {
  static const ShimSettings settings = readShimSettings();
  return settings;
}

// The module, attached once and kept until the process ends (its claim goes with it).
std::atomic<portlib::PortBackend*> attachedModule{nullptr};
std::mutex attachLock;

portlib::PortBackend* attachModule() {
  if (auto* module = attachedModule.load(std::memory_order_acquire)) return module;
  const std::lock_guard lock(attachLock);
  if (auto* module = attachedModule.load(std::memory_order_relaxed)) return module;
  try {
    const auto settings = portlib::readSettings([](const char* name) { return std::getenv(name); }, say);
    auto* module = new portlib::VirtualModuleBackend(settings, say);
    module->write(t6963c::EcrPort, ecrFor(shimSettings().mode));
    attachedModule.store(module, std::memory_order_release);
    return module;
  } catch (const std::exception& error) {
    say(std::string("cannot attach the virtual display module: ") + error.what());
  }
  return nullptr;
}

// --- ppdev ---------------------------------------------------------------------------------

constexpr int ServedDescriptors = 1 << 16;
std::array<std::atomic<PpdevPort*>, ServedDescriptors> ppdevPorts{};

PpdevPort* servedPort(int fd) {
  return fd >= 0 && fd < ServedDescriptors ? ppdevPorts[static_cast<std::size_t>(fd)].load(std::memory_order_acquire)
                                           : nullptr;
}

int failWith(int error) {
  errno = error;
  return -1;
}

// The open of a served port, or -2 when `path` is not one.
constexpr int NotServed = -2;
int openParport(const char* path, int flags) {
  if (path == nullptr || !servesParport(shimSettings(), path)) return NotServed;
  auto* module = attachModule();
  if (module == nullptr) return failWith(EBUSY);
  const int fd = memfd_create(path, (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0U);
  if (fd < 0) return -1;
  if (fd >= ServedDescriptors) {
    NEXT(close)(fd);
    return failWith(EMFILE);
  }
  ppdevPorts[static_cast<std::size_t>(fd)].store(new PpdevPort(*module, shimSettings().mode), std::memory_order_release);
  return fd;
}

mode_t modeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// --- direct I/O ----------------------------------------------------------------------------

IoPermissions permissions;
std::atomic<bool> trapping{false};
struct sigaction programSegvAction {};

void passOn(int signalNumber, siginfo_t* info, void* context) {
  const auto& previous = programSegvAction;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signalNumber, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signalNumber);
  } else {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    NEXT(sigaction)(SIGSEGV, &fallback, nullptr);  // the instruction faults again, unserved
  }
}

void serveTrappedInstruction(int signalNumber, siginfo_t* info, void* context) {
  auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  auto* module = attachedModule.load(std::memory_order_acquire);
  if (info->si_code == SI_KERNEL && module != nullptr) {
    const auto* code = reinterpret_cast<const std::uint8_t*>(registers[REG_RIP]);
    if (const auto instruction = decodeIoInstruction(code)) {
      const auto port = portOf(*instruction, static_cast<std::uint64_t>(registers[REG_RDX]));
      if (permissions.allows(port)) {
        const auto rax = static_cast<std::uint64_t>(registers[REG_RAX]);
        registers[REG_RAX] = static_cast<greg_t>(execute(*instruction, *module, port, rax));
        registers[REG_RIP] += static_cast<greg_t>(instruction->length);
        return;
      }
    }
  }
  passOn(signalNumber, info, context);
}

// After a successful grant: the module attached and the trap handler in place.
int startServing() {
  if (attachModule() == nullptr) return failWith(EBUSY);
  const std::lock_guard lock(attachLock);
  if (trapping.load()) return 0;
  struct sigaction action {};
  action.sa_sigaction = serveTrappedInstruction;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  if (NEXT(sigaction)(SIGSEGV, &action, &programSegvAction) != 0) return -1;
  trapping.store(true);
  return 0;
}

void programTakesSegv() {
  if (trapping.exchange(false)) {
    say(std::string(program_invocation_short_name) +
        " installs its own SIGSEGV handler: its in and out instructions are no longer served");
  }
}

}  // namespace

// --- the calls the program makes -----------------------------------------------------------

SHIM_EXPORT int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  const int served = openParport(path, flags);
  return served != NotServed ? served : NEXT(open)(path, flags, mode);
}

SHIM_EXPORT int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  const int served = openParport(path, flags);
  return served != NotServed ? served : NEXT(open64)(path, flags, mode);
}

SHIM_EXPORT int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  const int served = openParport(path, flags);
  return served != NotServed ? served : NEXT(openat)(directory, path, flags, mode);
}

SHIM_EXPORT int openat64(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  const int served = openParport(path, flags);
  return served != NotServed ? served : NEXT(openat64)(directory, path, flags, mode);
}

// The fortified forms a program built with _FORTIFY_SOURCE calls.
SHIM_EXPORT int __open_2(const char* path, int flags) { return open(path, flags); }
SHIM_EXPORT int __open64_2(const char* path, int flags) { return open64(path, flags); }
SHIM_EXPORT int __openat_2(int directory, const char* path, int flags) { return openat(directory, path, flags); }
SHIM_EXPORT int __openat64_2(int directory, const char* path, int flags) { return openat64(directory, path, flags); }

SHIM_EXPORT int close(int fd) {
  if (servedPort(fd) != nullptr) delete ppdevPorts[static_cast<std::size_t>(fd)].exchange(nullptr);
  return NEXT(close)(fd);
}

SHIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (auto* port = servedPort(fd)) {
    const int result = port->ioctl(request, argument);
    return result < 0 ? failWith(-result) : result;
  }
  return NEXT(ioctl)(fd, request, argument);
}

SHIM_EXPORT ssize_t read(int fd, void* buffer, size_t size) {
  if (const auto* port = servedPort(fd)) return failWith(-port->readWrite());
  return NEXT(read)(fd, buffer, size);
}

SHIM_EXPORT ssize_t write(int fd, const void* buffer, size_t size) {
  if (const auto* port = servedPort(fd)) return failWith(-port->readWrite());
  return NEXT(write)(fd, buffer, size);
}

SHIM_EXPORT int ioperm(unsigned long from, unsigned long count, int turnOn) noexcept {
  if (const int error = permissions.ioperm(from, count, turnOn != 0)) return failWith(error);
  return turnOn != 0 ? startServing() : 0;
}

SHIM_EXPORT int iopl(int level) noexcept {
  if (const int error = permissions.iopl(level)) return failWith(error);
  return level > 0 ? startServing() : 0;
}

SHIM_EXPORT int sigaction(int signalNumber, const struct sigaction* action, struct sigaction* previous) noexcept {
  if (signalNumber == SIGSEGV && action != nullptr) programTakesSegv();
  return NEXT(sigaction)(signalNumber, action, previous);
}

SHIM_EXPORT sighandler_t signal(int signalNumber, sighandler_t handler) noexcept {
  if (signalNumber == SIGSEGV) programTakesSegv();
  return NEXT(signal)(signalNumber, handler);
}
