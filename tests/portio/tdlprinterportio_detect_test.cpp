// TDLPrinterPortIO detection: both registry walks over prepared images, selection of a
// port, the machine's image built from a kernel parport tree, and the palette registration.
#include "portio/register.h"
#include "portio/tdlprinterportio.h"
#include "portio_fixture.h"
#include "winapi/registry_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>

namespace portio_test {
namespace {

namespace fs = std::filesystem;

using Bases = std::map<int, std::uint16_t>;  // LPT number -> base; absent means 0

// The base each of LPT1..LPT8 selects, as a map of the non-zero ones.
Bases SelectableBases(TDLPrinterPortIO& port) {
  Bases bases;
  for (std::uint8_t n = 1; n <= 8; ++n) {
    port.SetLPTNumber(n);
    if (port.LPTBasePort() != 0) bases[n] = port.LPTBasePort();
  }
  return bases;
}

void LoadImage(const std::string& file) {
  winapi::fake::loadRegistryFile(std::string(KELVARI_TEST_DATA) + "/portio/registry/" + file);
}

struct DetectionCase {
  const char* file;
  bool nt;
  int count;
  Bases bases;
  bool versionQueryFails = false;  // then the 95/98 walk runs, whatever the family
};

void PrintTo(const DetectionCase& row, std::ostream* os) {
  *os << row.file << (row.nt ? " (NT)" : " (95/98)") << (row.versionQueryFails ? ", version query failing" : "");
}

class DetectionTest : public PortioTest, public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(DetectionTest, FindsTheAcceptedPortsAndClosesEveryKey) {
  const DetectionCase& row = GetParam();
  LoadImage(row.file);
  winapi::fake::setNtFamily(row.nt);
  winapi::fake::failVersionQuery(row.versionQueryFails);
  TDLPrinterPortIO port(nullptr);

  EXPECT_EQ(port.LPTNumPorts(), row.count);
  EXPECT_EQ(port.LPTNumber(), 1);
  EXPECT_EQ(port.LPTBasePort(), row.bases.contains(1) ? row.bases.at(1) : 0);
  EXPECT_EQ(SelectableBases(port), row.bases);
  EXPECT_EQ(winapi::fake::openRegistryKeys(), 0);
  for (const auto& record : winapi::fake::callLog())
    if (record.function == "RegOpenKeyExA") {
      EXPECT_EQ(record.arguments[3], "0x9");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, DetectionTest,
    ::testing::Values(
        DetectionCase{"9x_ports.reg", false, 2, {{1, 0x378}, {2, 0x278}}},
        DetectionCase{"9x_problem_byte.reg", false, 0, {}},
        DetectionCase{"9x_problem_missing.reg", false, 0, {}},
        DetectionCase{"9x_problem_not_binary.reg", false, 0, {}},
        DetectionCase{"9x_problem_empty.reg", false, 1, {{1, 0x378}}},
        DetectionCase{"9x_no_base.reg", false, 0, {}},
        DetectionCase{"9x_marker_at_word_62.reg", false, 1, {{1, 0x3BC}}},
        DetectionCase{"9x_marker_at_word_63.reg", false, 0, {}},
        DetectionCase{"9x_allocation_too_long.reg", false, 0, {}},
        DetectionCase{"9x_lpt9.reg", false, 0, {}},
        DetectionCase{"9x_lpt_without_digits.reg", false, 1, {}},
        DetectionCase{"9x_lpt_negative.reg", false, 0, {}},
        DetectionCase{"9x_lpt_spaces_and_sign.reg", false, 2, {{3, 0x378}, {4, 0x278}}},
        DetectionCase{"9x_duplicate_numbers.reg", false, 2, {{2, 0x278}}},
        DetectionCase{"9x_text_without_terminator.reg", false, 1, {{2, 0x278}}},
        DetectionCase{"9x_empty_hardware_key.reg", false, 0, {}},
        DetectionCase{"nt_ports.reg", false, 0, {}},
        DetectionCase{"nt_ports.reg", true, 2, {{1, 0x378}, {2, 0x278}}},
        DetectionCase{"9x_ports.reg", true, 0, {}},
        DetectionCase{"nt_base_zero.reg", true, 1, {}},
        DetectionCase{"nt_short_list.reg", true, 0, {}},
        DetectionCase{"nt_shortest_list.reg", true, 1, {{1, 0x378}}},
        DetectionCase{"nt_list_too_long.reg", true, 0, {}},
        DetectionCase{"nt_not_resource_list.reg", true, 0, {}},
        DetectionCase{"nt_lpt9_and_no_digits.reg", true, 1, {}},
        DetectionCase{"nt_duplicate_numbers.reg", true, 2, {{1, 0x278}}},
        DetectionCase{"nt_no_device_prefix.reg", true, 0, {}},
        DetectionCase{"nt_data_not_text.reg", true, 0, {}},
        DetectionCase{"long_names.reg", false, 2, {{1, 0x378}, {2, 0x278}}},
        DetectionCase{"long_names.reg", true, 1, {{1, 0x0303}}},
        DetectionCase{"9x_ports.reg", true, 2, {{1, 0x378}, {2, 0x278}}, true},
        DetectionCase{"nt_ports.reg", true, 0, {}, true}),
    [](const ::testing::TestParamInfo<DetectionCase>& row) {
      std::string name = std::string(row.param.versionQueryFails ? "NtFailedVersionQuery_"
                                     : row.param.nt              ? "NtWalk_"
                                                                 : "Walk9x_") +
                         row.param.file;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST_F(PortioTest, SelectionTakesItsBaseFromTheTableOfTheLastSelection) {
  LoadImage("9x_only_lpt3.reg");
  TDLPrinterPortIO port(nullptr);
  EXPECT_EQ(port.LPTNumPorts(), 1);
  EXPECT_EQ(port.LPTNumber(), 1);
  EXPECT_EQ(port.LPTBasePort(), 0);
  port.SetLPTNumber(3);
  EXPECT_EQ(port.LPTBasePort(), 0x3BC);
  for (const std::uint8_t ignored : std::array<std::uint8_t, 3>{0, 9, 255}) {
    port.SetLPTNumber(ignored);
    EXPECT_EQ(port.LPTNumber(), 3);
    EXPECT_EQ(port.LPTBasePort(), 0x3BC);
  }

  // A new detection keeps the selected base until the next selection.
  LoadImage("9x_ports.reg");
  port.DetectPorts();
  EXPECT_EQ(port.LPTNumPorts(), 2);
  EXPECT_EQ(port.LPTBasePort(), 0x3BC);
  port.SetLPTNumber(3);
  EXPECT_EQ(port.LPTBasePort(), 0);
  port.SetLPTNumber(2);
  EXPECT_EQ(port.LPTBasePort(), 0x278);
}

// A tree laid out as /proc/sys/dev/parport, private to this process.
class ParportTreeTest : public PortioTest {
 protected:
  void SetUp() override {
    PortioTest::SetUp();
    root_ = fs::temp_directory_path() / ("kelvari-parport-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    Port("parport0", "888\t1912\n");
    Port("parport2", "632\t-1\n");
    Port("parport1", "956 1980\n");
    Port("parport3", "not a number\n");
    Port("parport4", "70000\n");  // beyond the I/O space
    Port("parportX", "123\n");
    fs::create_directories(root_ / "default");
  }
  void TearDown() override {
    fs::remove_all(root_);
    PortioTest::TearDown();
  }
  void Port(const std::string& folder, const std::string& baseAddr) {
    fs::create_directories(root_ / folder);
    std::ofstream(root_ / folder / "base-addr") << baseAddr;
  }
  fs::path root_;
};

TEST_F(ParportTreeTest, KernelPortsAreFoundByTheWalkOfEitherFamily) {
  const auto ports = winapi::KernelParallelPorts(root_);
  ASSERT_EQ(ports.size(), 3U);
  EXPECT_EQ(ports[1].number, 1U);
  EXPECT_EQ(ports[1].base, 956);

  winapi::fake::useMachineRegistry(root_);
  for (const bool nt : {false, true}) {
    winapi::fake::setNtFamily(nt);
    TDLPrinterPortIO port(nullptr);
    EXPECT_EQ(port.LPTNumPorts(), 3) << "NT family: " << nt;
    EXPECT_EQ(SelectableBases(port), (Bases{{1, 888}, {2, 956}, {3, 632}})) << "NT family: " << nt;
  }

  winapi::fake::useMachineRegistry(root_ / "absent");
  TDLPrinterPortIO none(nullptr);
  EXPECT_EQ(none.LPTNumPorts(), 0);
  EXPECT_EQ(none.LPTBasePort(), 0);
}

TEST(PaletteTest, RegistersBothComponentsOnOnePageInOrder) {
  Dlportio::Register();
  Dlportio::Register();
  const auto palette = ComponentPalette();
  ASSERT_EQ(palette.size(), 2U);
  EXPECT_EQ(palette[0].Class.ClassName, "TDLPortIO");
  EXPECT_EQ(palette[1].Class.ClassName, "TDLPrinterPortIO");
  TComponent owner(nullptr);
  for (const auto& entry : palette) {
    EXPECT_EQ(entry.Page, Dlportio::PalettePage);
    entry.Class.Create(&owner);
  }
  ASSERT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(typeid(*owner.Components(0)), typeid(TDLPortIO));
  EXPECT_EQ(typeid(*owner.Components(1)), typeid(TDLPrinterPortIO));
}

}  // namespace
}  // namespace portio_test
