// kelvari-port [--segment NAME] [--spp] [--parport /dev/parportN] PROGRAM [ARGS...]
// Runs PROGRAM with its parallel-port accesses served by the virtual display module: it
// preloads the library beside it (kelvari-port-shim.so, in this program's folder or in
// ../libexec/kelvari) and hands it the settings through the environment, then executes
// PROGRAM in its own place, so that the program's exit status is kelvari-port's.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "portlib/settings.h"
#include "portshim/shim_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* ShimFile = "kelvari-port-shim.so";
constexpr int UsageError = 2;
constexpr int CannotRun = 126;
constexpr int NotFound = 127;

int usage(std::ostream& out, int status) {
  out << "usage: kelvari-port [--segment NAME] [--spp] [--parport /dev/parportN] PROGRAM [ARGS...]\n"
         "Runs PROGRAM with its parallel-port accesses (ppdev on /dev/parportN, in/out\n"
         "instructions after ioperm or iopl) served by the virtual display module.\n"
         "  --segment NAME   the module's shared-memory segment, /name (default: the user's)\n"
         "  --spp            the port is plain SPP instead of bidirectional (byte mode)\n"
         "  --parport PATH   serve only this /dev/parportN (default: every one)\n";
  return status;
}

int fail(const std::string& message, int status) {
  std::cerr << "kelvari-port: " << message << '\n';
  return status;
}

// The shim beside this program (the build) or in the installed program folder.
fs::path findShim() {
  std::error_code error;
  const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
  for (const fs::path& candidate : {folder / ShimFile, folder / KELVARI_SHIM_FROM_BIN / ShimFile}) {
    if (fs::is_regular_file(candidate, error)) return candidate.lexically_normal();
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const std::string_view option = argv[next];
    if (option == "--") {
      ++next;
      break;
    }
    if (option == "--help" || option == "-h") return usage(std::cout, EXIT_SUCCESS);
    if (option == "--spp") {
      ::setenv(portshim::EnvMode, portshim::ModeSpp.data(), 1);
      continue;
    }
    if ((option == "--segment" || option == "--parport") && next + 1 < argc) {
      const std::string_view value = argv[++next];
      if (option == "--segment") {
        if (!portlib::isSegmentName(value)) return fail("--segment wants a name such as /kelvari-lcd, not " + std::string(value), UsageError);
        ::setenv(portlib::EnvSegment, value.data(), 1);
      } else {
        if (!portlib::isParportPath(value)) return fail("--parport wants a device such as /dev/parport0, not " + std::string(value), UsageError);
        ::setenv(portshim::EnvParport, value.data(), 1);
      }
      continue;
    }
    std::cerr << "kelvari-port: unknown option or missing value: " << option << '\n';
    return usage(std::cerr, UsageError);
  }
  if (next >= argc) return usage(std::cerr, UsageError);

  const fs::path shim = findShim();
  if (shim.empty()) return fail(std::string("cannot find ") + ShimFile + " beside the program or in ../libexec/kelvari", CannotRun);
  if (shim.native().find_first_of(" :") != std::string::npos) {
    return fail("the library's path holds a space or a colon, which LD_PRELOAD cannot carry: " + shim.native(), CannotRun);
  }
  // Libraries preloaded already keep their place before ours (a sanitizer's runtime must be first).
  std::string preload = shim.native();
  if (const char* earlier = std::getenv("LD_PRELOAD"); earlier != nullptr && *earlier != '\0') preload = std::string(earlier) + ":" + preload;
  ::setenv("LD_PRELOAD", preload.c_str(), 1);

  ::execvp(argv[next], argv + next);
  const int error = errno;
  return fail(std::string("cannot run ") + argv[next] + ": " + std::strerror(error), error == ENOENT ? NotFound : CannotRun);
}
