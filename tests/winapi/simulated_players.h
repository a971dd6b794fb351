// Media players simulated in memory for the player-window stand-ins: each present player
// answers with what the test set, or gives no answer at all; every question to a player is
// counted.
#pragma once

#include <algorithm>
#include <vector>

#include "winapi/media_players.h"

namespace winapi::test {

class SimulatedPlayers : public MediaPlayers {
 public:
  struct Player {
    QString name;
    QString playbackStatus = QStringLiteral("Stopped");
    std::int64_t positionMicroseconds = 0;
    PlayerTrack track;
    bool answers = true;
  };

  std::vector<Player> present;  // listed in this order
  int questions = 0;

  std::vector<PlayerStatus> players() override {
    std::vector<PlayerStatus> found;
    for (const Player& player : present) {
      if (player.answers) found.push_back({player.name, player.playbackStatus});
    }
    return found;
  }
  std::optional<QString> playbackStatus(const QString& name) override {
    const Player* player = answering(name);
    return player ? std::optional(player->playbackStatus) : std::nullopt;
  }
  std::optional<std::int64_t> positionMicroseconds(const QString& name) override {
    const Player* player = answering(name);
    return player ? std::optional(player->positionMicroseconds) : std::nullopt;
  }
  std::optional<PlayerTrack> track(const QString& name) override {
    const Player* player = answering(name);
    return player ? std::optional(player->track) : std::nullopt;
  }

 private:
  const Player* answering(const QString& name) {
    ++questions;
    const auto player =
        std::find_if(present.begin(), present.end(), [&name](const Player& p) { return p.name == name; });
    return player != present.end() && player->answers ? &*player : nullptr;
  }
};

}  // namespace winapi::test
