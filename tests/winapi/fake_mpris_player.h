// MPRIS media players of a test's own on a D-Bus session bus of its own, for the player
// windows' session-bus side (and its benchmark).
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <memory>

namespace winapi::test {

// A dbus-daemon with the session configuration, started for this object and stopped (by its
// own process) at the end; DBUS_SESSION_BUS_ADDRESS names it meanwhile and is restored after.
class PrivateSessionBus {
 public:
  PrivateSessionBus();  // throws std::runtime_error when the daemon does not start
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const QString& address() const { return address_; }
  // Stops and resumes the daemon (SIGSTOP, SIGCONT): a bus that answers nothing meanwhile.
  void pause();
  void resume();

 private:
  QProcess daemon_;
  QString address_;
  QByteArray previousAddress_;
};

// A player owning org.mpris.MediaPlayer2.<name> on the bus. It answers Get of the player
// interface's PlaybackStatus, Position and Metadata with the values set here, from a thread
// of its own, so a caller blocked on the bus is answered, after the delay set here; a
// silenced property is never answered at all.
class FakeMprisPlayer {
 public:
  FakeMprisPlayer(const QString& busAddress, const QString& name);
  ~FakeMprisPlayer();
  FakeMprisPlayer(const FakeMprisPlayer&) = delete;
  FakeMprisPlayer& operator=(const FakeMprisPlayer&) = delete;

  struct State {
    QString playbackStatus = QStringLiteral("Stopped");
    QVariant position = QVariant::fromValue<qlonglong>(0);
    QVariantMap metadata;
    QStringList silenced;  // property names; "*" silences every one
    unsigned long answerDelayMilliseconds = 0;
  };
  void set(State state);
  // Gives up its name and leaves the bus (once).
  void vanish();

  class Object;

 private:
  QString connectionName_;
  QString serviceName_;
  QThread thread_;
  std::unique_ptr<Object> object_;
};

}  // namespace winapi::test
