// Finding the bus lines among a capture's channels: the spellings analysers use, the
// --channels map over them, tied lines, and the refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "replay/bus_lines.h"

namespace {

using replay::BusLine;
using ::testing::HasSubstr;

TEST(BusLineNames, EverySpellingAnalysersUseNamesItsLineAndNothingElseDoes) {
  const struct {
    const char* name;
    std::optional<BusLine> line;
  } rows[] = {
      {"D0", BusLine::D0},   {"d5", BusLine::D5},   {"DB0", BusLine::D0}, {"db7", BusLine::D7},
      {"/WR", BusLine::Wr},  {"WR", BusLine::Wr},   {"nWR", BusLine::Wr}, {"WR#", BusLine::Wr},
      {"wr#", BusLine::Wr},  {"/rd", BusLine::Rd},  {"RD", BusLine::Rd},  {"NRD", BusLine::Rd},
      {"RD#", BusLine::Rd},  {"/CE", BusLine::Ce},  {"ce", BusLine::Ce},  {"nCE", BusLine::Ce},
      {"CE#", BusLine::Ce},  {"C/D", BusLine::Cd},  {"cd", BusLine::Cd},  {"A0", BusLine::Cd},
      {"D8", std::nullopt},  {"DB8", std::nullopt}, {"DIR", std::nullopt}, {"A1", std::nullopt},
      {"CLK", std::nullopt}, {"/WR#", std::nullopt}, {"W R", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(replay::busLineForName(row.name), row.line) << '"' << row.name << '"';
}

replay::CaptureInfo channelsNamed(const std::vector<std::string>& names) {
  replay::CaptureInfo info;
  info.sampleRate = 1'000'000;
  for (unsigned k = 0; k < names.size(); ++k) info.channels.push_back({k, names[k]});
  return info;
}

const std::vector<std::string> KelvariVcdNames = {"D0", "D1", "D2", "D3", "D4", "D5", "D6",
                                                  "D7", "/WR", "/RD", "/CE", "C/D", "DIR"};

TEST(ChannelAssignment, FindsEveryLineByNameInAnyOrderAndIgnoresOtherChannels) {
  replay::ChannelAssignment kelvari{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(replay::assignChannels(channelsNamed(KelvariVcdNames), "", {}), kelvari);

  const auto analyser = channelsNamed({"CLK", "nRD", "A0", "WR#", "CE#", "DB7", "DB6", "DB5", "DB4", "DB3", "DB2",
                                       "DB1", "DB0"});
  replay::ChannelAssignment found{12, 11, 10, 9, 8, 7, 6, 5, 3, 1, 4, 2};
  EXPECT_EQ(replay::assignChannels(analyser, "", {}), found);
}

TEST(ChannelAssignment, TheMapTakesChannelsByIndexOrNameAndOverridesNames) {
  // A binary capture's channels are named by their numbers.
  std::vector<std::string> numbers;
  for (int k = 0; k < 16; ++k) numbers.push_back(std::to_string(k));
  const auto assignment = replay::assignChannels(
      channelsNamed(numbers), "wr=15,/RD=14,CE#=13,A0=12,D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7", {});
  EXPECT_EQ(assignment, (replay::ChannelAssignment{0, 1, 2, 3, 4, 5, 6, 7, 15, 14, 13, 12}));

  // C/D mapped to a channel named otherwise frees the one named C/D for nothing else.
  auto names = KelvariVcdNames;
  names[12] = "strobe2";
  const auto overridden = replay::assignChannels(channelsNamed(names), "CD=STROBE2,WR=C/D", {});
  EXPECT_EQ(overridden[static_cast<std::size_t>(BusLine::Cd)], 12U);
  EXPECT_EQ(overridden[static_cast<std::size_t>(BusLine::Wr)], 11U);
}

TEST(ChannelAssignment, TiedLinesNeedNoChannelAndAreLeftOutEvenWhenOneIsNamed) {
  const auto info = channelsNamed({"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "WR", "CD"});
  const auto assignment = replay::assignChannels(info, "", {.ceTiedLow = true, .rdTiedHigh = true});
  EXPECT_FALSE(assignment[static_cast<std::size_t>(BusLine::Ce)]);
  EXPECT_FALSE(assignment[static_cast<std::size_t>(BusLine::Rd)]);
  EXPECT_EQ(assignment[static_cast<std::size_t>(BusLine::Wr)], 8U);

  const auto withRd = replay::assignChannels(channelsNamed(KelvariVcdNames), "", {.rdTiedHigh = true});
  EXPECT_FALSE(withRd[static_cast<std::size_t>(BusLine::Rd)]);
}

TEST(ChannelAssignment, RefusesWhatCannotBeAssignedAndSaysWhy) {
  const struct {
    std::vector<std::string> names;
    const char* map;
    replay::Wiring wiring;
    const char* message;
  } rows[] = {
      {{"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "WR"}, "", {}, "no channel for /RD /CE C/D"},
      {{"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "WR", "CD"}, "", {.ceTiedLow = true}, "no channel for /RD ("},
      {{"0", "1", "2"}, "", {}, "no channel for D0 D1 D2 D3 D4 D5 D6 D7 /WR /RD /CE C/D"},
      {KelvariVcdNames, "WR", {}, "\"WR\" is not LINE=CHANNEL"},
      {KelvariVcdNames, "XX=3", {}, "\"XX=3\" is not LINE=CHANNEL"},
      {KelvariVcdNames, "WR=", {}, "\"WR=\" is not LINE=CHANNEL"},
      {KelvariVcdNames, "WR=99", {}, "--channels WR=99: the capture has no channel 99"},
      {KelvariVcdNames, "WR=CLK", {}, "the capture has no channel CLK"},
      {KelvariVcdNames, "WR=1,nWR=2", {}, "/WR is given twice"},
      {KelvariVcdNames, "RD=8", {}, "channel 8 is both /WR and /RD"},
      {{"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "WR", "nWR", "RD", "CE", "CD"}, "", {},
       "two channels are named as /WR"},
  };
  for (const auto& row : rows) {
    try {
      replay::assignChannels(channelsNamed(row.names), row.map, row.wiring);
      ADD_FAILURE() << "accepted: " << row.map;
    } catch (const replay::CaptureError& error) {
      EXPECT_THAT(error.what(), HasSubstr(row.message)) << row.map;
    }
  }
}

}  // namespace
