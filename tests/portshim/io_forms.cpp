// Run under kelvari-port: ioperm, every in/out form with the port in DX on the module's ports
// (8, 16 and 32 bit, the rest of RAX kept as the processor keeps it), and the immediate forms,
// whose ports lie outside the module's. Prints each failed check; exits with their count.
#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) std::printf("FAIL: %s\n", what);
  failures += ok ? 0 : 1;
}

constexpr std::uint16_t Data = 0x378;
constexpr std::uint16_t Ecr = 0x77A;
constexpr std::uint64_t Upper = 0x1122334455660000;
constexpr std::uint64_t Rax = Upper | 0xEEEE;  // what RAX holds before each in

std::uint64_t inByte(std::uint16_t port, std::uint64_t rax) { asm volatile("inb %%dx, %%al" : "+a"(rax) : "d"(port)); return rax; }
std::uint64_t inWord(std::uint16_t port, std::uint64_t rax) { asm volatile("inw %%dx, %%ax" : "+a"(rax) : "d"(port)); return rax; }
std::uint64_t inLong(std::uint16_t port, std::uint64_t rax) { asm volatile("inl %%dx, %%eax" : "+a"(rax) : "d"(port)); return rax; }
void outByte(std::uint16_t port, std::uint8_t value) { asm volatile("outb %%al, %%dx" : : "a"(value), "d"(port)); }
void outWord(std::uint16_t port, std::uint16_t value) { asm volatile("outw %%ax, %%dx" : : "a"(value), "d"(port)); }
void outLong(std::uint16_t port, std::uint32_t value) { asm volatile("outl %%eax, %%dx" : : "a"(value), "d"(port)); }

// Immediate forms reach ports 0..0xFF only, never the module's: these use the POST code port.
void inByteImmediate() { asm volatile("inb $0x80, %%al" : : : "eax"); }
void outLongImmediate() { asm volatile("outl %%eax, $0x80" : : "a"(0)); }

bool endsWithSegv(void (*access)()) {
  const pid_t child = fork();
  if (child == 0) {
    access();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
}

}  // namespace

int main() {
  check(ioperm(0x3F8, 8, 1) == -1 && errno == EPERM, "ioperm of a serial port is refused with EPERM");
  check(ioperm(Data, 8, 1) == -1 && errno == EPERM, "ioperm past the control register is refused with EPERM");
  check(iopl(4) == -1 && errno == EINVAL, "iopl(4) is refused with EINVAL");
  check(ioperm(Data, 3, 1) == 0 && ioperm(Ecr, 1, 1) == 0, "ioperm of data, status and control, and of the ECR");

  check(inByte(Ecr, Rax) == (Upper | 0xEE00 | 0x35), "the ECR reads byte mode as the BIOS left it, AH and above kept");
  outByte(Data, 0xA5);
  check(inByte(Data, Rax) == (Upper | 0xEE00 | 0xA5), "8-bit data write and read back");
  outWord(Data, 0x5A3C);
  check(inWord(Data, Rax) == (Upper | 0x7F3C), "16-bit: data latch and status, the upper bits of RAX kept");
  outLong(Data, 0x00C00011);
  check(inLong(Data, Rax) == 0xFFC07F11, "32-bit: data, status, control and an undecoded port; upper half cleared");

  check(endsWithSegv(inByteImmediate), "an immediate-port read outside the module's ports ends with SIGSEGV");
  check(endsWithSegv(outLongImmediate), "an immediate-port write outside the module's ports ends with SIGSEGV");
  std::signal(SIGSEGV, [](int) {});  // kelvari-port says that the trapped instructions go
  return failures;
}
