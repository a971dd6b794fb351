// Run under kelvari-port: a driver that never reads the status and waits by the clock
// instead, as drivers for write-only cables do: 20 µs before each byte, on the system's
// monotonic clock. It holds /CE low from its first byte to its last, so a byte takes four
// port accesses. Over ppdev on this system's cable it sets the graphic area (home 0x0200, 30
// bytes a row), turns graphics on and writes the bytes 1 to 60 from the graphic home, each
// with "write and advance". Prints each failed call; exits with their count.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

int failures = 0;
int port = -1;

void call(unsigned long request, std::uint8_t value, const char* what) {
  if (::ioctl(port, request, &value) != 0) {
    std::printf("FAIL: %s\n", what);
    ++failures;
  }
}

std::int64_t nowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Control register values of the standard cable: bit 0 /WR, bit 1 /CE, bit 2 C/D.
void send(bool command, std::uint8_t byte) {
  constexpr std::int64_t WaitNs = 20'000;
  for (const std::int64_t until = nowNs() + WaitNs; nowNs() < until;) {
  }
  const auto selected = static_cast<std::uint8_t>((command ? 0x04 : 0x00) | 0x02);
  call(PPWDATA, byte, "PPWDATA");
  call(PPWCONTROL, selected, "PPWCONTROL C/D");
  call(PPWCONTROL, static_cast<std::uint8_t>(selected | 0x01), "PPWCONTROL /WR");
  call(PPWCONTROL, selected, "PPWCONTROL /WR released");
}

}  // namespace

int main() {
  port = ::open("/dev/parport0", O_RDWR);
  if (port < 0 || ::ioctl(port, PPCLAIM) != 0) {
    std::printf("FAIL: open and claim /dev/parport0\n");
    return 1;
  }
  const std::uint8_t setup[][3] = {{0x00, 0x02, 0x42}, {30, 0x00, 0x43}, {0x00, 0x02, 0x24}};
  for (const auto& command : setup) {
    send(false, command[0]);
    send(false, command[1]);
    send(true, command[2]);
  }
  send(true, 0x98);  // display mode: graphics
  for (std::uint8_t byte = 1; byte <= 60; ++byte) {
    send(false, byte);
    send(true, 0xC0);
  }
  call(PPWCONTROL, 0x00, "PPWCONTROL released");
  ::ioctl(port, PPRELEASE);
  ::close(port);
  return failures;
}
