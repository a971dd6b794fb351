// The media-player page: title trimming and the state and time texts as tables, and the
// press without a port driver over simulated players (the boxes are filled, the display
// refuses). The page on the display is in end_to_end_test.cpp.
#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "app/start_up.h"
#include "app/winamp_page.h"
#include "gui_support.h"
#include "tests/winapi/simulated_players.h"
#include "winapi/fake.h"

namespace kelvari::test {
namespace {

using winamp_page::stateText;
using winamp_page::timeText;
using winamp_page::trimmedTitle;

TEST(WinampTitle, KeepsWhatStandsBeforeTheLastMarkerWithoutTrailingSpaces) {
  struct Case {
    std::wstring_view title;
    std::wstring_view shown;
  };
  const Case cases[] = {
      {L"Artist - Song - Winamp", L"Artist - Song"},
      {L"Some-thing   - WINAMP", L"Some-thing"},
      {L"a - Winamp b - winamp", L"a - Winamp b"},
      {L"tab\t- Winamp", L"tab\t"},
      {L"no space -Winamp", L""},
      {L"- Winamp", L""},
      {L"- Winamp and nothing more", L""},
      {L"Winamp", L""},
      {L"", L""},
      {L"Björk ☃ - Winamp", L"Björk ☃"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trimmedTitle(c.title), c.shown) << QString::fromStdWString(std::wstring(c.title)).toStdString();
  }
}

TEST(WinampTexts, StateAndTimeAreFormattedWhole) {
  EXPECT_EQ(stateText(1), "Winamp playing");
  EXPECT_EQ(stateText(3), "Winamp paused");
  for (const std::int32_t other : {0, 2, -1, 4}) EXPECT_EQ(stateText(other), "Winamp stopped");

  constexpr auto Min = std::numeric_limits<std::int32_t>::min();
  constexpr auto Max = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::int32_t position, length;
    const char* text;
  };
  const Case cases[] = {
      {125'500, 250, "2:05 / 4:10"},
      {3'599'999, 3'725, "59:59 / 62:05"},
      {0, -1, "0:00 / 0:-01"},
      {-1, 0, "0:00 / 0:00"},
      {Min, Min, "-35791:-23 / -35791394:-08"},
      {Max, Max, "35791:23 / 35791394:07"},
  };
  for (const Case& c : cases) EXPECT_EQ(timeText(c.position, c.length), c.text);
}

class WinampPageWithoutDriver : public testing::Test {
 protected:
  WinampPageWithoutDriver() {
    winapi::fake::reset();
    winapi::fake::setMediaPlayers(players_);
    windows_ = std::make_unique<MainWindows>();
  }
  ~WinampPageWithoutDriver() override {
    windows_.reset();
    winapi::fake::reset();
  }

  QString textIn(const char* name) { return windows_->form1().findChild<QLineEdit*>(name)->text(); }
  void press() { QTest::mouseClick(windows_->form1().findChild<QAbstractButton*>("Winamp_Button1"), Qt::LeftButton); }
  void playing(QString title) {
    winapi::test::SimulatedPlayers::Player player;
    player.name = "p";
    player.playbackStatus = "Playing";
    player.track.title = std::move(title);
    players_->present = {player};
  }

  std::shared_ptr<winapi::test::SimulatedPlayers> players_ = std::make_shared<winapi::test::SimulatedPlayers>();
  std::unique_ptr<MainWindows> windows_;
};

TEST_F(WinampPageWithoutDriver, FillsTheBoxesThenRefusesTheDisplay) {
  struct Case {
    QString playerTitle;  // empty: no player
    QString shown;
  };
  const Case cases[] = {
      {"", ""},
      {QString::fromUtf8("Sigur Rós – Hoppípolla ☃"), QString::fromUtf8("Sigur Rós – Hoppípolla ☃")},
      {QString(2038, 'x'), QString(2038, 'x')},  // " - Winamp" ends at the 2047th character
      {QString(2039, 'x'), ""},                  // the marker's last letter is cut away
  };
  for (const Case& c : cases) {
    if (c.playerTitle.isEmpty()) {
      players_->present.clear();
    } else {
      playing(c.playerTitle);
    }
    ShownExceptions shown;
    press();
    EXPECT_EQ(textIn("Winamp_Edit1"), c.shown);
    EXPECT_EQ(textIn("Winamp_Edit2"), c.playerTitle.isEmpty() ? "Winamp stopped" : "Winamp playing");
    EXPECT_EQ(textIn("Winamp_Edit3"), "0:00 / 0:00");
    EXPECT_EQ(shown.messages(), QStringList({PortDriverNotOpenError().what()}));
  }
}

}  // namespace
}  // namespace kelvari::test
