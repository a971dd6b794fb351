// The fake parport.
#include "fake_parport.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <sstream>

namespace portlib_test {
namespace {

struct Request {
  const char* name;
  enum { None, ByteIn, ByteOut, IntOut, ModesIn } argument;
};

Request requestOf(unsigned long request) {
  switch (request) {
    case PPEXCL: return {"PPEXCL", Request::None};
    case PPCLAIM: return {"PPCLAIM", Request::None};
    case PPRELEASE: return {"PPRELEASE", Request::None};
    case PPRDATA: return {"PPRDATA", Request::ByteIn};
    case PPRSTATUS: return {"PPRSTATUS", Request::ByteIn};
    case PPRCONTROL: return {"PPRCONTROL", Request::ByteIn};
    case PPWDATA: return {"PPWDATA", Request::ByteOut};
    case PPWCONTROL: return {"PPWCONTROL", Request::ByteOut};
    case PPDATADIR: return {"PPDATADIR", Request::IntOut};
    case PPGETMODES: return {"PPGETMODES", Request::ModesIn};
    default: return {"unknown", Request::None};
  }
}

}  // namespace

int FakeParport::open(const char* path) noexcept {
  ++callCount;
  if (recording) calls.push_back(std::string("open ") + path);
  if (openError != 0) {
    errno = openError;
    return -1;
  }
  return Fd;
}

int FakeParport::ioctl(int fd, unsigned long request, void* argument) noexcept {
  ++callCount;
  const auto [name, kind] = requestOf(request);
  if (fd != Fd) {
    errno = EBADF;
    return -1;
  }
  if (const auto failure = failing.find(name); failure != failing.end()) {
    if (recording) calls.push_back(std::string(name) + " failed");
    errno = failure->second;
    return -1;
  }
  if (kind == Request::ModesIn) *static_cast<unsigned int*>(argument) = modes;
  auto* byte = static_cast<std::uint8_t*>(argument);
  if (kind == Request::ByteIn) {
    *byte = request == PPRDATA ? dataLines : request == PPRSTATUS ? statusLines : controlLines;
  }
  if (!recording) return 0;
  std::ostringstream text;
  text << name;
  if (kind == Request::ByteOut) text << " 0x" << std::hex << int{*byte};
  if (kind == Request::IntOut) text << ' ' << *static_cast<int*>(argument);
  calls.push_back(text.str());
  return 0;
}

void FakeParport::close(int) noexcept {
  ++callCount;
  if (recording) calls.emplace_back("close");
}

}  // namespace portlib_test
