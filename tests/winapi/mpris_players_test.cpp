// The player windows over the session bus: fake MPRIS players of this test's own on a
// dbus-daemon of its own. What a player says shows on the page; the length in any of the
// types players send; a player that vanishes after the search; no bus at all; players and a
// bus that never answer, or answer slowly, within the bound of one press (1.5 s). Where the bound is not the
// point, the players are asked with a patient timeout, so that a loaded machine cannot make
// an answer late.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

#include "fake_mpris_player.h"
#include "winamp_page_press.h"
#include "winapi/fake.h"
#include "winapi/media_players.h"
#include "winapi/winamp.h"
#include "winapi/windows.h"

namespace winapi::test {
namespace {

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override { application_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "mpris-test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] testing::Environment* const qtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr qint64 PressBoundMilliseconds = 1500;

class SessionBusPlayers : public testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = std::make_unique<PrivateSessionBus>(); }
  static void TearDownTestSuite() { bus_.reset(); }
  void SetUp() override { fake::reset(); }
  void TearDown() override { fake::reset(); }

  static void askPatiently() { fake::setMediaPlayers(makeSessionBusPlayers(10'000, 600'000)); }

  static std::unique_ptr<FakeMprisPlayer> player(const char* name, FakeMprisPlayer::State state) {
    auto fake = std::make_unique<FakeMprisPlayer>(bus_->address(), QString::fromUtf8(name));
    fake->set(std::move(state));
    return fake;
  }

  static inline std::unique_ptr<PrivateSessionBus> bus_;
};

// What a fake player is to say: its status, its metadata, its position, what it keeps silent.
FakeMprisPlayer::State saying(const char* status, QVariantMap metadata = {}, qlonglong position = 0,
                              QStringList silenced = {}) {
  return {QString::fromUtf8(status), QVariant::fromValue(position), std::move(metadata), std::move(silenced)};
}

TEST_F(SessionBusPlayers, PlayerShowsOnThePageWithTheLengthInAnyTypePlayersSend) {
  struct Case {
    const char* name;
    FakeMprisPlayer::State state;
    WinampPage expected;
  };
  const auto length = [](QVariant value) {
    return saying("Stopped", {{"mpris:length", value}, {"xesam:title", "T"}});
  };
  const Case cases[] = {
      {"playing",
       saying("Playing",
              {{"xesam:artist", QStringList{"Anna", "Bo"}},
               {"xesam:title", "Kappale"},
               {"mpris:length", QVariant::fromValue<qlonglong>(250'000'000)}},
              125'500'000),
       {"Anna, Bo - Kappale", "Winamp playing", "2:05 / 4:10"}},
      {"paused",
       saying("Paused", {{"xesam:artist", QString::fromUtf8("Sigur Rós")},
                         {"xesam:title", QString::fromUtf8("Hoppípolla")},
                         {"mpris:length", QVariant::fromValue<qulonglong>(3'725'000'000)}}),
       {QString::fromUtf8("Sigur Rós - Hoppípolla"), "Winamp paused", "0:00 / 62:05"}},
      {"stopped", saying("Stopped"), {"", "Winamp stopped", "0:00 / 0:00"}},
      {"int32", length(QVariant::fromValue<int>(90'000'000)), {"T", "Winamp stopped", "0:00 / 1:30"}},
      {"double", length(61.9e6), {"T", "Winamp stopped", "0:00 / 1:01"}},
      {"text", length(QStringLiteral("42000000")), {"T", "Winamp stopped", "0:00 / 0:42"}},
      {"nonsense", length(QStringLiteral("soon")), {"T", "Winamp stopped", "0:00 / 0:00"}},
  };
  askPatiently();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto fake = player(c.name, c.state);
    const WinampPage page = pressWinampPage();
    EXPECT_EQ(page.title, c.expected.title);
    EXPECT_EQ(page.state, c.expected.state);
    EXPECT_EQ(page.time, c.expected.time);
  }
}

TEST_F(SessionBusPlayers, PlayerVanishingAfterTheSearchLeavesAnEmptyWindow) {
  askPatiently();
  const auto fake = player("vanishing", saying("Playing", {{"xesam:title", "T"}}));
  const HWND window = FindWindowA(winamp::WindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  fake->vanish();
  wchar_t title[8] = L"x";
  EXPECT_EQ(GetWindowTextW(window, title, 8), 0);
  EXPECT_EQ(title[0], L'\0');
  EXPECT_EQ(SendMessageA(window, WM_USER, 0, winamp::IpcIsPlaying), 0);
  EXPECT_EQ(SendMessageA(window, WM_USER, winamp::OutputPosition, winamp::IpcGetOutputTime), 0);
}

TEST_F(SessionBusPlayers, WithoutASessionBusNoPlayerIsFoundAndNothingWaits) {
  const auto fake = player("unreachable", saying("Playing"));
  const QByteArray runtimeDirectory = qgetenv("XDG_RUNTIME_DIR");
  const QTemporaryDir emptyRuntimeDirectory;
  qputenv("XDG_RUNTIME_DIR", emptyRuntimeDirectory.path().toUtf8());
  for (const char* address : {"", "unix:path=/nonexistent/kelvari-bus"}) {
    SCOPED_TRACE(address);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    const WinampPage page = pressWinampPage();
    EXPECT_LT(page.pressMilliseconds, PressBoundMilliseconds);
    EXPECT_EQ(page.title, "");
    EXPECT_EQ(page.state, "Winamp stopped");
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().toUtf8());
  qputenv("XDG_RUNTIME_DIR", runtimeDirectory);
  EXPECT_EQ(pressWinampPage().state, "Winamp playing");
}

TEST_F(SessionBusPlayers, PlayersThatDoNotAnswerCountAsAbsentWithinTheBoundOfOnePress) {
  const auto hung = player("hung", saying("Playing", {}, 0, {"*"}));
  const WinampPage alone = pressWinampPage();
  EXPECT_EQ(alone.state, "Winamp stopped");
  EXPECT_LT(alone.pressMilliseconds, PressBoundMilliseconds);

  const auto silentAfterSearch = player("silent", saying("Playing", {}, 0, {"Metadata", "Position"}));
  const WinampPage page = pressWinampPage();
  EXPECT_LT(page.pressMilliseconds, PressBoundMilliseconds);
  EXPECT_EQ(page.title, "");
  EXPECT_EQ(page.state, "Winamp stopped") << "a window whose player did not answer is invalid";
  EXPECT_EQ(page.time, "0:00 / 0:00");
}

TEST_F(SessionBusPlayers, APlayerAnsweringEachQuestionJustInTimeCostsOnePressInAll) {
  FakeMprisPlayer::State slowly = saying("Playing", {{"xesam:title", "T"}});
  slowly.answerDelayMilliseconds = 150;  // the per-call limit is 200 ms
  const auto slow = player("slow", slowly);
  QElapsedTimer timer;
  timer.start();
  const HWND window = FindWindowA(winamp::WindowClass, nullptr);
  for (int question = 0; question < 12; ++question) SendMessageA(window, WM_USER, 0, winamp::IpcIsPlaying);
  EXPECT_LT(timer.elapsed(), PressBoundMilliseconds);
}

TEST_F(SessionBusPlayers, BusThatDoesNotAnswerTheHandshakeCostsOneTimeoutAndIsTakenUpLater) {
  PrivateSessionBus stalled;  // the session bus until it ends
  stalled.pause();
  const WinampPage page = pressWinampPage();
  EXPECT_EQ(page.state, "Winamp stopped");
  EXPECT_LT(page.pressMilliseconds, PressBoundMilliseconds);

  stalled.resume();
  FakeMprisPlayer late(stalled.address(), QStringLiteral("late"));
  late.set(saying("Playing"));
  bool found = false;
  for (int search = 0; search < 50 && !found; ++search) found = pressWinampPage().state == "Winamp playing";
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace winapi::test
