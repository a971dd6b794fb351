// Stand-ins for the player windows: FindWindowA, GetWindowTextA/W and SendMessageA over the
// media players of winapi/media_players.h. A window handle stands for one player (by its bus
// name) until winapi::fake::reset(). A player that is gone or does not answer in time
// invalidates its window until a later search finds it again, so a hung player costs one
// reply timeout, not one per call. The player's 64-bit times come into the 32-bit replies
// by truncating division to the reply's unit and then saturating at the ends of the 32-bit
// range (a stream longer than the range shows as the longest time, never as negative).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "winapi/ansi_text.h"
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/media_players.h"
#include "winapi/winamp.h"
#include "winapi/windows.h"

namespace {

using winapi::MediaPlayers;
using winapi::PlayerStatus;

// Each bus call waits at most 200 ms, and a press of the media-player page (the search,
// the title and the three queries, a new connection to the bus included) 1.3 s in all,
// which keeps the whole press within 1.5 s.
constexpr int ReplyTimeoutMilliseconds = 200;
constexpr int PressLimitMilliseconds = 1300;

constexpr std::int64_t MicrosecondsPerMillisecond = 1000;
constexpr std::int64_t MicrosecondsPerSecond = 1000000;

struct PlayerWindow {
  QString player;
  bool valid = true;
};

std::mutex windowsMutex;
std::shared_ptr<MediaPlayers> simulatedPlayers;
std::vector<PlayerWindow> playerWindows;  // a handle is the index + 1

MediaPlayers& mediaPlayers() {
  if (simulatedPlayers) return *simulatedPlayers;
  // Made on first use and kept for the life of the process: Qt closes its connection at
  // exit, after static destructors could no longer do it safely.
  static MediaPlayers* const sessionBusPlayers =
      winapi::makeSessionBusPlayers(ReplyTimeoutMilliseconds, PressLimitMilliseconds).release();
  return *sessionBusPlayers;
}

// Playback states in the order the search prefers them.
enum class Playback { Playing, Paused, Other };

Playback playbackOf(const QString& playbackStatus) {
  if (playbackStatus == QLatin1String("Playing")) return Playback::Playing;
  if (playbackStatus == QLatin1String("Paused")) return Playback::Paused;
  return Playback::Other;
}

HWND windowFor(const QString& player) {
  auto window = std::find_if(playerWindows.begin(), playerWindows.end(),
                             [&player](const PlayerWindow& known) { return known.player == player; });
  if (window == playerWindows.end()) window = playerWindows.insert(window, PlayerWindow{player});
  window->valid = true;
  const auto index = static_cast<std::uintptr_t>(window - playerWindows.begin());
  return reinterpret_cast<HWND>(index + 1);
}

PlayerWindow* validWindow(HWND hWnd) {
  const auto number = reinterpret_cast<std::uintptr_t>(hWnd);
  if (number == 0 || number > playerWindows.size() || !playerWindows[number - 1].valid) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &playerWindows[number - 1];
}

// The player's answer; a player that gives none invalidates its window.
template <typename Answer>
std::optional<Answer> answerFor(PlayerWindow& window, std::optional<Answer> answer) {
  if (!answer) {
    window.valid = false;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  }
  return answer;
}

// "Artist, Artist - Title - Winamp"; without artists "Title - Winamp"; without a track
// " - Winamp".
QString composedTitle(const winapi::PlayerTrack& track) {
  QStringList parts;
  if (!track.artists.isEmpty()) parts << track.artists.join(QStringLiteral(", "));
  if (!track.title.isEmpty()) parts << track.title;
  return parts.join(QStringLiteral(" - ")) + QLatin1String(winamp::TitleSuffix);
}

std::optional<QString> windowTitle(HWND hWnd) {
  PlayerWindow* window = validWindow(hWnd);
  if (window == nullptr) return std::nullopt;
  const std::optional<winapi::PlayerTrack> track = answerFor(*window, mediaPlayers().track(window->player));
  if (!track) return std::nullopt;
  return composedTitle(*track);
}

LRESULT reply32(std::int64_t value) {
  return static_cast<LRESULT>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()));
}

template <typename Character>
int copyText(const std::basic_string<Character>& text, Character* buffer, int maxCount) {
  const auto count = std::min(text.size(), static_cast<std::size_t>(maxCount - 1));
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = Character{};
  return static_cast<int>(count);
}

template <typename Character>
int getWindowText(HWND hWnd, Character* lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  lpString[0] = Character{};
  const std::lock_guard lock(windowsMutex);
  const std::optional<QString> title = windowTitle(hWnd);
  if (!title) return 0;
  if constexpr (std::is_same_v<Character, char>) {
    return copyText(winapi::toWindows1252(*title).toStdString(), lpString, nMaxCount);
  } else {
    return copyText(title->toStdWString(), lpString, nMaxCount);
  }
}

}  // namespace

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  if (lpClassName != nullptr && QString::fromLatin1(lpClassName).compare(QLatin1String(winamp::WindowClass),
                                                                         Qt::CaseInsensitive) != 0) {
    return nullptr;
  }
  const std::lock_guard lock(windowsMutex);
  std::vector<PlayerStatus> players = mediaPlayers().players();
  std::sort(players.begin(), players.end(), [](const PlayerStatus& a, const PlayerStatus& b) {
    return std::pair(playbackOf(a.playbackStatus), a.player) < std::pair(playbackOf(b.playbackStatus), b.player);
  });
  for (const PlayerStatus& player : players) {
    const HWND window = windowFor(player.player);
    if (lpWindowName == nullptr) return window;
    const std::optional<QString> title = windowTitle(window);
    if (title && winapi::toWindows1252(*title) == lpWindowName) return window;
  }
  return nullptr;
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) { return getWindowText(hWnd, lpString, nMaxCount); }

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) { return getWindowText(hWnd, lpString, nMaxCount); }

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  const std::lock_guard lock(windowsMutex);
  PlayerWindow* window = validWindow(hWnd);
  if (window == nullptr || Msg != WM_USER) return 0;
  MediaPlayers& players = mediaPlayers();
  if (lParam == winamp::IpcIsPlaying) {
    const std::optional<QString> status = answerFor(*window, players.playbackStatus(window->player));
    if (!status) return winamp::StateStopped;
    switch (playbackOf(*status)) {
      case Playback::Playing:
        return winamp::StatePlaying;
      case Playback::Paused:
        return winamp::StatePaused;
      case Playback::Other:
        break;
    }
    return winamp::StateStopped;
  }
  if (lParam == winamp::IpcGetOutputTime && wParam == winamp::OutputPosition) {
    const std::optional<std::int64_t> position = answerFor(*window, players.positionMicroseconds(window->player));
    return position ? reply32(*position / MicrosecondsPerMillisecond) : 0;
  }
  if (lParam == winamp::IpcGetOutputTime && wParam == winamp::OutputLength) {
    const std::optional<winapi::PlayerTrack> track = answerFor(*window, players.track(window->player));
    return track ? reply32(track->lengthMicroseconds / MicrosecondsPerSecond) : 0;
  }
  return 0;
}

namespace winapi::detail {

void resetPlayerWindows() {
  const std::lock_guard lock(windowsMutex);
  simulatedPlayers.reset();
  playerWindows.clear();
}

}  // namespace winapi::detail

namespace winapi::fake {

void setMediaPlayers(std::shared_ptr<MediaPlayers> players) {
  const std::lock_guard lock(windowsMutex);
  simulatedPlayers = std::move(players);
}

}  // namespace winapi::fake
