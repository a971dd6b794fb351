// The media players behind the player windows of winapi/windows.h: what a player tells about
// itself, and the seam through which the window stand-ins ask it. On Linux the players are
// the MPRIS players on the D-Bus session bus (winapi/mpris_players.cpp); tests put
// simulated players in their place (winapi/fake.h).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace winapi {

// A player present now, named by its bus name, with its playback status as it gives it
// ("Playing", "Paused", "Stopped", or whatever else it says).
struct PlayerStatus {
  QString player;
  QString playbackStatus;
};

// The current track as the player describes it; all empty or 0 when it has none.
struct PlayerTrack {
  QStringList artists;
  QString title;
  std::int64_t lengthMicroseconds = 0;
};

// Each call is bounded in time. nullopt: the player is gone or did not answer in time.
class MediaPlayers {
 public:
  virtual ~MediaPlayers() = default;
  // The players that answer, in no particular order; none without a bus. A search starts
  // a press: it and the calls after it, until the next search, are bounded together.
  virtual std::vector<PlayerStatus> players() = 0;
  virtual std::optional<QString> playbackStatus(const QString& player) = 0;
  virtual std::optional<std::int64_t> positionMicroseconds(const QString& player) = 0;
  virtual std::optional<PlayerTrack> track(const QString& player) = 0;
};

// The MPRIS players on the D-Bus session bus (DBUS_SESSION_BUS_ADDRESS, else the socket
// $XDG_RUNTIME_DIR/bus); each bus call, and the wait for a new connection to the bus, takes
// at most `replyTimeout` milliseconds, and all the waits of one press at most `pressLimit`
// milliseconds together, however slowly the players and the bus answer.
std::unique_ptr<MediaPlayers> makeSessionBusPlayers(int replyTimeout, int pressLimit);

}  // namespace winapi
