// DLPortIO.dll itself, loaded by name: its dynamic symbol table, each entry point reaching
// the backend chosen by the environment (a file, through the library's build for tests;
// the virtual display module), the settings it reports when loaded, and its start-up
// routine's refusal when the backend cannot be opened.
#include <elf.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "portlib/settings.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"
#include "test_segment.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::vector<unsigned char> contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names of the symbols the file defines in its dynamic symbol table.
std::vector<std::string> definedDynamicSymbols(const std::string& path) {
  const auto image = contentsOf(path);
  const auto at = [&](std::size_t offset, std::size_t size) {
    if (offset > image.size() || size > image.size() - offset) throw std::runtime_error("truncated ELF file");
    return image.data() + offset;
  };
  Elf64_Ehdr header;
  std::memcpy(&header, at(0, sizeof header), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    throw std::runtime_error("not a 64-bit ELF file");
  }
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  std::memcpy(sections.data(), at(header.e_shoff, sections.size() * sizeof(Elf64_Shdr)),
              sections.size() * sizeof(Elf64_Shdr));

  std::vector<std::string> names;
  for (const auto& section : sections) {
    if (section.sh_type != SHT_DYNSYM) continue;
    const auto& strings = sections.at(section.sh_link);
    const auto* table = reinterpret_cast<const char*>(at(strings.sh_offset, strings.sh_size));
    for (std::size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size; offset += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, at(section.sh_offset + offset, sizeof symbol), sizeof symbol);
      if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_BIND(symbol.st_info) == STB_LOCAL) continue;
      names.emplace_back(table + symbol.st_name);
    }
  }
  return names;
}

TEST(DlportioLibrary, DefinesExactlyTheTwelveEntryPointsAndItsStartUpRoutine) {
  auto exported = definedDynamicSymbols(portlib_test::libraryPath());
  std::vector<std::string> expected(std::begin(dlportio::EntryPointNames), std::end(dlportio::EntryPointNames));
  expected.emplace_back("DllStartUp");
  std::sort(exported.begin(), exported.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(exported, expected);
}

TEST(DlportioLibrary, FileNameIsTheOneTheComponentLoads) {
  EXPECT_TRUE(std::string(portlib_test::libraryPath()).ends_with("/DLPortIO.dll"));
}

TEST(DlportioLibrary, TheShippedBuildTakesNoOtherFileForPortsThanThePortDevice) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("ports").toStdString();
  std::ofstream(file, std::ios::binary).close();
  for (const std::string& path : {file, std::string("/dev/zero")}) {
    portlib_test::LoadedLibrary dll({{portlib::EnvBackend, path}});
    ASSERT_NE(dll.startUp(), nullptr) << path;
    EXPECT_THAT(dll.startUp(), HasSubstr(path + " is "));  // what it is, then the remedy: give /dev/port
  }
}

class DlportioDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    std::vector<char> image(0x800, 0);
    for (std::size_t port = 0x378; port < 0x380; ++port) image[port] = static_cast<char>(port - 0x368);  // 0x10..0x17
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
  }

  std::map<std::string, std::string> onFile(const std::string& file) const { return {{portlib::EnvBackend, file}}; }

  QTemporaryDir dir;
  std::string path = dir.filePath("ports").toStdString();
  const char* library = portlib_test::regularFilesLibraryPath();
};

TEST_F(DlportioDevice, SingleWritesOfEachWidthLandLittleEndianAtThePortOffset) {
  {
    portlib_test::LoadedLibrary dll(onFile(path), library);
    EXPECT_THAT(dll.loadMessages(), IsEmpty());
    EXPECT_EQ(dll.startUp(), nullptr);
    dll.writeUchar(0x378, 0xA1);
    dll.writeUshort(0x37A, 0xB2C3);
    dll.writeUlong(0x37C, 0xD4E5F607u);
  }
  const auto bytes = contentsOf(path);
  EXPECT_EQ(bytes[0x378], 0xA1);
  EXPECT_THAT(std::vector(bytes.begin() + 0x37A, bytes.begin() + 0x37C), ElementsAre(0xC3, 0xB2));
  EXPECT_THAT(std::vector(bytes.begin() + 0x37C, bytes.begin() + 0x380), ElementsAre(0x07, 0xF6, 0xE5, 0xD4));
  EXPECT_EQ(bytes[0x379], 0x11);
}

TEST_F(DlportioDevice, SingleReadsOfEachWidthAssembleConsecutivePorts) {
  portlib_test::LoadedLibrary dll(onFile(path), library);
  EXPECT_EQ(dll.readUchar(0x37D), 0x15);
  EXPECT_EQ(dll.readUshort(0x37C), 0x1514);
  EXPECT_EQ(dll.readUlong(0x37C), 0x17161514u);
}

TEST_F(DlportioDevice, BufferEntryPointsRepeatTheSingleAccessAtOnePort) {
  {
    portlib_test::LoadedLibrary dll(onFile(path), library);
    std::uint8_t bytes[3] = {};
    dll.readBufferUchar(0x379, bytes, 3);
    EXPECT_THAT(bytes, ElementsAre(0x11, 0x11, 0x11));
    std::uint16_t words[2] = {};
    dll.readBufferUshort(0x37A, words, 2);
    EXPECT_THAT(words, ElementsAre(0x1312, 0x1312));
    std::uint32_t longs[2] = {};
    dll.readBufferUlong(0x37C, longs, 2);
    EXPECT_THAT(longs, ElementsAre(0x17161514u, 0x17161514u));

    // Each buffer write leaves the last item at its port(s).
    const std::uint8_t byteItems[] = {0x01, 0x02, 0x03};
    dll.writeBufferUchar(0x778, byteItems, 3);
    const std::uint16_t wordItems[] = {0x1111, 0x2233};
    dll.writeBufferUshort(0x378, wordItems, 2);
    const std::uint32_t longItems[] = {0x11111111u, 0x44556677u};
    dll.writeBufferUlong(0x37C, longItems, 2);
  }
  const auto bytes = contentsOf(path);
  EXPECT_EQ(bytes[0x778], 0x03);
  EXPECT_EQ(bytes[0x779], 0x00);
  EXPECT_THAT(std::vector(bytes.begin() + 0x378, bytes.begin() + 0x37A), ElementsAre(0x33, 0x22));
  EXPECT_THAT(std::vector(bytes.begin() + 0x37C, bytes.begin() + 0x380), ElementsAre(0x77, 0x66, 0x55, 0x44));
}

TEST_F(DlportioDevice, AMissingDeviceRefusesTheLoadYetAPlainDlopenAnswersZero) {
  const std::string missing = dir.filePath("no-such-port").toStdString();
  portlib_test::LoadedLibrary dll(onFile(missing));
  EXPECT_THAT(dll.loadMessages(), HasSubstr(missing));
  EXPECT_EQ(std::count(dll.loadMessages().begin(), dll.loadMessages().end(), '\n'), 1);
  ASSERT_NE(dll.startUp(), nullptr);
  EXPECT_THAT(dll.startUp(), HasSubstr(missing));
  dll.writeUchar(t6963c::DataPort, 0x03);
  EXPECT_EQ(dll.readUchar(t6963c::DataPort), 0x00);
  EXPECT_EQ(dll.readUlong(t6963c::DataPort), 0u);
  std::uint8_t bytes[2] = {0xEE, 0xEE};
  dll.readBufferUchar(t6963c::DataPort, bytes, 2);
  EXPECT_THAT(bytes, ElementsAre(0x00, 0x00));
}

TEST_F(DlportioDevice, EachLoadReadsTheSettingsAfresh) {
  const std::string other = dir.filePath("other").toStdString();
  std::ofstream(other, std::ios::binary).close();
  {
    portlib_test::LoadedLibrary dll(onFile(path), library);
    dll.writeUchar(0x378, 0x42);
  }
  {
    portlib_test::LoadedLibrary dll(onFile(other), library);
    dll.writeUchar(0x378, 0x24);
  }
  EXPECT_EQ(contentsOf(path)[0x378], 0x42);
  std::vector<unsigned char> expectedOther(0x379, 0x00);
  expectedOther[0x378] = 0x24;
  EXPECT_EQ(contentsOf(other), expectedOther);
}

}  // namespace

namespace {

// One step of a recorded port trace: a read whose value is checked against a mask, a plain
// write, or the ECR write-back of the byte-mode switch (low five bits of the read kept).
struct Step {
  enum Kind { Read, Write, EcrToByteMode } kind;
  std::uint16_t port;
  std::uint8_t value;  // Write: the byte; Read: bits that must be set
};

constexpr Step read(std::uint16_t port, std::uint8_t mustBeSet = 0) { return {Step::Read, port, mustBeSet}; }
constexpr Step write(std::uint16_t port, std::uint8_t value) { return {Step::Write, port, value}; }

// One byte as the test bench sends it when the first status poll answers ready.
std::vector<Step> byteTrace(std::uint8_t value, bool command) {
  using namespace t6963c;
  const std::uint8_t cd = command ? ctl::Cd : 0x00;
  return {read(EcrPort),
          {Step::EcrToByteMode, EcrPort, 0},
          write(ControlPort, 0x26),
          write(ControlPort, 0x2E),
          read(DataPort, sta::Ready),
          write(ControlPort, 0x26),
          write(ControlPort, 0x00),
          write(DataPort, value),
          write(ControlPort, static_cast<std::uint8_t>(cd | 0x00)),
          write(ControlPort, static_cast<std::uint8_t>(cd | 0x02)),
          write(ControlPort, static_cast<std::uint8_t>(cd | 0x03)),
          write(ControlPort, static_cast<std::uint8_t>(cd | 0x02)),
          write(ControlPort, 0x00)};
}

// Plays the trace through the library; returns the values read, in order.
std::vector<std::uint8_t> play(const portlib_test::LoadedLibrary& dll, const std::vector<Step>& trace) {
  std::vector<std::uint8_t> reads;
  for (const auto& step : trace) {
    switch (step.kind) {
      case Step::Read: {
        const std::uint8_t value = dll.readUchar(step.port);
        EXPECT_EQ(value & step.value, step.value) << "read of port 0x" << std::hex << step.port << " gave 0x" << int{value};
        reads.push_back(value);
        break;
      }
      case Step::Write: dll.writeUchar(step.port, step.value); break;
      case Step::EcrToByteMode:
        dll.writeUchar(step.port, static_cast<std::uint8_t>((reads.back() & t6963c::ecr::KeepMask) | t6963c::ecr::ModeByte));
        break;
    }
  }
  return reads;
}

std::vector<Step> concat(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class DlportioModule : public ::testing::Test {
 protected:
  std::map<std::string, std::string> environment(std::map<std::string, std::string> extra = {}) const {
    extra.emplace(portlib::EnvSegment, segment.name());
    extra.emplace(portlib::EnvPowerOn, "zero");
    return extra;
  }

  portlib_test::TestSegment segment;
};

TEST_F(DlportioModule, ADataByteSentWithTheProtocolLandsInDisplayRam) {
  using namespace t6963c;
  portlib_test::LoadedLibrary dll(environment());
  EXPECT_THAT(dll.loadMessages(), IsEmpty());
  EXPECT_EQ(dll.startUp(), nullptr);
  play(dll, concat({byteTrace(0x34, false), byteTrace(0x02, false), byteTrace(cmd::SetAddressPointer, true),
                    byteTrace(0x5A, false), byteTrace(cmd::WriteIncrement, true)}));

  const auto state = t6963::SharedModule::open(segment.name()).snapshot();
  EXPECT_EQ(state.ram[0x0234], 0x5A);
  EXPECT_EQ(state.ram[0x0233], 0x00);
  EXPECT_EQ(state.ram[0x0235], 0x00);
  EXPECT_EQ(state.controller.addressPointer, 0x0235);
  EXPECT_EQ(state.violations.total, 0u);
}

TEST_F(DlportioModule, ADisconnectedModuleNeverAnswersReadyAndTakesNothing) {
  using namespace t6963c;
  portlib_test::LoadedLibrary dll(environment({{portlib::EnvDisconnected, "1"}}));
  auto trace = concat({byteTrace(0x5A, false), byteTrace(cmd::WriteIncrement, true)});
  for (auto& step : trace) {
    if (step.kind == Step::Read) step.value = 0;  // the status is checked below instead
  }
  const auto reads = play(dll, trace);
  ASSERT_THAT(reads, ::testing::SizeIs(4));
  EXPECT_NE(reads[1] & sta::Ready, sta::Ready);
  EXPECT_NE(reads[3] & sta::Ready, sta::Ready);

  const auto state = t6963::SharedModule::open(segment.name()).snapshot();
  EXPECT_EQ(state.ram[0x0000], 0x00);
  EXPECT_EQ(state.controller.addressPointer, 0x0000);
  EXPECT_TRUE(t6963::isDisconnected(state));
}

TEST_F(DlportioModule, BusyTimeFromTheEnvironmentHoldsOffTheFirstPoll) {
  using namespace t6963c;
  portlib_test::LoadedLibrary dll(environment({{portlib::EnvBusy, "40"}}));
  EXPECT_EQ(t6963::SharedModule::open(segment.name()).state().settings.busyAccesses, 40u);
  play(dll, byteTrace(cmd::DisplayMode, true));
  auto next = byteTrace(cmd::DisplayMode | cmd::DisplayTextOn, true);
  next[4].value = 0;
  const auto reads = play(dll, next);
  EXPECT_NE(reads[1] & sta::Ready, sta::Ready);
}

TEST_F(DlportioModule, WideAccessesReachTheModuleLowByteFirst) {
  using namespace t6963c;
  portlib_test::LoadedLibrary dll(environment());
  dll.writeUshort(DataPort, 0x7755);  // data latch, then the (read-only) status register
  auto view = t6963::SharedModule::open(segment.name());
  EXPECT_EQ(view.state().bus.dataLatch, 0x55);
  const std::uint16_t dataAndStatus = dll.readUshort(DataPort);
  EXPECT_EQ(dataAndStatus & 0x00FF, 0x55);  // SPP mode: the latch
  EXPECT_EQ(dataAndStatus >> 8, dll.readUchar(StatusPort));
  EXPECT_EQ(dll.readUchar(0x0100), 0xFF);  // not decoded by the module
  EXPECT_EQ(dll.readUchar(0x10000), 0xFF);  // beyond the port space
}

TEST_F(DlportioModule, ABadSettingIsReportedOnLoadAndItsDefaultUsed) {
  portlib_test::LoadedLibrary dll(environment({{portlib::EnvPowerOn, "blank"}, {portlib::EnvBackend, "port"}}));
  EXPECT_THAT(dll.loadMessages(), HasSubstr(portlib::EnvPowerOn));
  EXPECT_THAT(dll.loadMessages(), HasSubstr(portlib::EnvBackend));
  EXPECT_EQ(std::count(dll.loadMessages().begin(), dll.loadMessages().end(), '\n'), 2);
  EXPECT_TRUE(dll.loadMessages().starts_with("DLPortIO.dll: "));

  // Still the virtual module on the test's segment, with random power-on contents.
  const auto state = t6963::SharedModule::open(segment.name()).snapshot();
  EXPECT_GT(std::count_if(state.ram.begin(), state.ram.end(), [](std::uint8_t b) { return b != 0; }), 0);
  dll.writeUchar(t6963c::DataPort, 0x99);
  EXPECT_EQ(t6963::SharedModule::open(segment.name()).state().bus.dataLatch, 0x99);
}

}  // namespace
