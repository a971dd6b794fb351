// The player windows over simulated players: which player the search finds, how a window's
// title is composed and cut, how the players' times come into 32-bit replies, and the
// window of a player that stops answering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "player_window_view.h"
#include "simulated_players.h"
#include "winamp_page_press.h"
#include "winapi/fake.h"

namespace winapi::test {
namespace {

constexpr auto Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr auto Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr auto Int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto Int64Min = std::numeric_limits<std::int64_t>::min();

class PlayerWindows : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::setMediaPlayers(players_);
  }
  void TearDown() override { fake::reset(); }

  // A player whose track title is its name, so that a window's title tells its player.
  static SimulatedPlayers::Player named(const char* name, const char* status = "Stopped") {
    SimulatedPlayers::Player player;
    player.name = QString::fromUtf8(name);
    player.playbackStatus = QString::fromUtf8(status);
    player.track.title = QString::fromUtf8(name);
    return player;
  }

  std::shared_ptr<SimulatedPlayers> players_ = std::make_shared<SimulatedPlayers>();
};

TEST_F(PlayerWindows, SearchTakesPlayingThenPausedThenAnyPlayerTheSameWayInAnyListingOrder) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> players;
    const char* chosen;
  };
  const Case cases[] = {
      {{{"c", "Stopped"}, {"b", "Playing"}, {"a", "Paused"}}, "b"},
      {{{"z", "Paused"}, {"y", "Stopped"}, {"x", "Paused"}}, "x"},
      {{{"b", "Stopped"}, {"a", "Buffering"}}, "a"},
      {{{"b", "Playing"}, {"a", "Playing"}}, "a"},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    for (const bool reversed : {false, true}) {
      players_->present.clear();
      for (const auto& [name, status] : c.players) players_->present.push_back(named(name, status));
      if (reversed) std::reverse(players_->present.begin(), players_->present.end());
      SCOPED_TRACE(c.chosen ? c.chosen : "none");
      EXPECT_EQ(pressWinampPage().title, c.chosen ? QString::fromUtf8(c.chosen) : QString());
    }
  }
}

TEST_F(PlayerWindows, TitleIsComposedAsThePlayerComposesItsOwnAndCutByCharacters) {
  struct Case {
    QStringList artists;
    QString title;
    QString window;
  };
  const Case cases[] = {
      {{"Anna", "Bo"}, "Kappale", "Anna, Bo - Kappale - Winamp"},
      {{}, "Kappale", "Kappale - Winamp"},
      {{"Anna"}, "", "Anna - Winamp"},
      {{}, "", " - Winamp"},
  };
  players_->present = {named("p", "Playing")};
  for (const Case& c : cases) {
    players_->present[0].track = {c.artists, c.title, 0};
    EXPECT_EQ(viewPlayerWindow().title, c.window);
  }

  players_->present[0].track = {{QString::fromUtf8("Björk")}, QString::fromUtf8("Jóga – ☃"), 0};
  const HWND window = FindWindowA(winamp::WindowClass, nullptr);
  char ansi[64];
  EXPECT_EQ(GetWindowTextA(window, ansi, sizeof ansi), 25);
  EXPECT_STREQ(ansi, "Bj\xF6rk - J\xF3ga \x96 ? - Winamp");
  wchar_t wide[6];
  EXPECT_EQ(GetWindowTextW(window, wide, 6), 5);
  EXPECT_EQ(std::wstring(wide), L"Björk");

  players_->present[0].track = {{}, QString(3000, 'x'), 0};
  EXPECT_EQ(viewPlayerWindow().title, QString(2047, 'x'));
}

TEST_F(PlayerWindows, QueriesAnswerWithStateAndTimesBroughtInto32Bits) {
  struct Case {
    const char* status;
    std::int64_t positionMicroseconds;
    std::int64_t lengthMicroseconds;
    LRESULT state, position, length;
  };
  const Case cases[] = {
      {"Playing", 125'500'000, 250'000'000, 1, 125'500, 250},
      {"Paused", 999, 1'999'999, 3, 0, 1},
      {"Stopped", -1'500, -1'000'000, 0, -1, -1},
      {"Buffering", 2'147'483'648'000, 2'147'483'648'000'000, 0, Int32Max, Int32Max},
      {"Playing", Int64Max, Int64Max, 1, Int32Max, Int32Max},
      {"Playing", Int64Min, Int64Min, 1, Int32Min, Int32Min},
  };
  for (const Case& c : cases) {
    SimulatedPlayers::Player player = named("p", c.status);
    player.positionMicroseconds = c.positionMicroseconds;
    player.track.lengthMicroseconds = c.lengthMicroseconds;
    players_->present = {player};
    const PlayerWindowView view = viewPlayerWindow();
    SCOPED_TRACE(c.positionMicroseconds);
    EXPECT_EQ(view.state, c.state);
    EXPECT_EQ(view.position, c.position);
    EXPECT_EQ(view.length, c.length);
  }
}

TEST_F(PlayerWindows, WindowOfAPlayerThatGivesNoAnswerIsInvalidUntilFoundAgain) {
  players_->present = {named("p", "Playing")};
  const HWND window = FindWindowA(winamp::WindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  players_->present.clear();
  const int questionsBefore = players_->questions;

  wchar_t title[8] = L"x";
  EXPECT_EQ(GetWindowTextW(window, title, 8), 0);
  EXPECT_EQ(title[0], L'\0');
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessageA(window, WM_USER, 0, winamp::IpcIsPlaying), 0);
  EXPECT_EQ(players_->questions, questionsBefore + 1) << "an invalid window does not ask its player again";

  players_->present = {named("p", "Paused")};
  EXPECT_EQ(FindWindowA(winamp::WindowClass, nullptr), window);
  EXPECT_EQ(SendMessageA(window, WM_USER, 0, winamp::IpcIsPlaying), 3);
}

TEST_F(PlayerWindows, SearchMatchesClassAndWindowName) {
  players_->present = {named("a", "Playing"), named("b", "Paused")};
  EXPECT_EQ(FindWindowA("Notepad", nullptr), nullptr);
  const HWND first = FindWindowA(nullptr, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(FindWindowA("winamp V1.X", nullptr), first);
  const HWND named = FindWindowA(winamp::WindowClass, "b - Winamp");
  EXPECT_NE(named, nullptr);
  EXPECT_NE(named, first);
  EXPECT_EQ(FindWindowA(winamp::WindowClass, "c - Winamp"), nullptr);
  EXPECT_EQ(SendMessageA(first, WM_USER + 1, 0, winamp::IpcIsPlaying), 0);
}

}  // namespace
}  // namespace winapi::test
