// The ppdev requests as the kernel answers them for a PC-style port, over a backend that
// records the last register write.
#include "portshim/ppdev_port.h"

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "t6963/t6963c.h"

namespace portshim_test {
namespace {

using portshim::PortMode;
namespace ctl = t6963c::ctl;

struct LastWrite final : portlib::PortBackend {
  std::uint8_t read(std::uint16_t) noexcept override { return 0x00; }
  void write(std::uint16_t port, std::uint8_t value) noexcept override { written = {port, value}; }
  std::pair<std::uint16_t, std::uint8_t> written;
};

struct Step {
  unsigned long request;
  int argument;                    // passed by address
  int result;                      // 0 or the negated errno
  std::optional<int> out{};        // the argument afterwards
  std::optional<int> control{};    // the control register's last write
};

struct Case {
  const char* name;
  PortMode mode;
  std::vector<Step> steps;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class PpdevRequests : public ::testing::TestWithParam<Case> {};

TEST_P(PpdevRequests, AnswerAsTheKernel) {
  LastWrite backend;
  portshim::PpdevPort port(backend, GetParam().mode);
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE(::testing::Message() << "request 0x" << std::hex << step.request);
    int argument = step.argument;
    EXPECT_EQ(port.ioctl(step.request, &argument), step.result);
    if (step.out) {
      EXPECT_EQ(argument, *step.out);
    }
    if (step.control) {
      EXPECT_EQ(backend.written, std::make_pair(t6963c::ControlPort, static_cast<std::uint8_t>(*step.control)));
    }
  }
}

constexpr unsigned long Unknown = _IO('x', 1);
constexpr int Frob = ctl::Ce;  // ppdev_frob_struct{mask = /CE, value = /CE} as an int

INSTANTIATE_TEST_SUITE_P(
    Ppdev, PpdevRequests,
    ::testing::Values(
        Case{"UnclaimedServesOnlyModesPhaseAndFlags", PortMode::Byte,
             {{PPRDATA, 0, -EINVAL}, {PPRELEASE, 0, -EINVAL}, {Unknown, 0, -EINVAL},
              {PPGETMODE, 0, 0, IEEE1284_MODE_COMPAT}, {PPGETMODES, 0, 0, PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE},
              {PPCLAIM, 0, 0}, {Unknown, 0, -ENOTTY}}},
        Case{"ClaimAndExclusive", PortMode::Byte,
             {{PPEXCL, 0, 0}, {PPCLAIM, 0, 0}, {PPCLAIM, 0, -EBUSY}, {PPRELEASE, 0, 0}, {PPRELEASE, 0, -EINVAL}}},
        Case{"TooLateForExclusive", PortMode::Byte, {{PPCLAIM, 0, 0}, {PPRELEASE, 0, 0}, {PPEXCL, 0, -EINVAL}}},
        Case{"OnlyCompatibilityModeNegotiates", PortMode::Byte,
             {{PPCLAIM, 0, 0}, {PPNEGOT, IEEE1284_MODE_COMPAT, 0}, {PPNEGOT, IEEE1284_MODE_ECP, -EIO}}},
        Case{"ByteModeTurnsTheLinesAround", PortMode::Byte,
             {{PPCLAIM, 0, 0}, {PPDATADIR, 1, 0, {}, ctl::DirInput}, {PPFCONTROL, Frob | Frob << 8, 0, {}, ctl::DirInput | ctl::Ce},
              {PPRCONTROL, 0, 0, ctl::Ce}}},
        Case{"SppCannotTurnTheLinesAround", PortMode::Spp,
             {{PPGETMODES, 0, 0, PARPORT_MODE_PCSPP}, {PPCLAIM, 0, 0}, {PPDATADIR, 1, 0, {}, 0},
              {PPWCONTROL, ctl::DirInput | ctl::Wr, 0, {}, ctl::Wr}}}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace portshim_test
