// The private session bus and the fake MPRIS player.
#include "fake_mpris_player.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutexLocker>
#include <sys/prctl.h>

#include <atomic>
#include <csignal>
#include <stdexcept>

namespace winapi::test {

PrivateSessionBus::PrivateSessionBus() : previousAddress_(qgetenv("DBUS_SESSION_BUS_ADDRESS")) {
  // The daemon ends with this process even if the process dies without cleaning up.
  daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
  while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
  }
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  if (address_.isEmpty()) throw std::runtime_error("dbus-daemon did not start: " + daemon_.errorString().toStdString());
  qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
}

PrivateSessionBus::~PrivateSessionBus() {
  qputenv("DBUS_SESSION_BUS_ADDRESS", previousAddress_);
  resume();
  daemon_.terminate();
  if (!daemon_.waitForFinished(2000)) daemon_.kill();
  daemon_.waitForFinished(2000);
}

void PrivateSessionBus::pause() { ::kill(static_cast<pid_t>(daemon_.processId()), SIGSTOP); }

void PrivateSessionBus::resume() { ::kill(static_cast<pid_t>(daemon_.processId()), SIGCONT); }

class FakeMprisPlayer::Object : public QDBusVirtualObject {
 public:
  void set(State state) {
    const QMutexLocker lock(&mutex_);
    state_ = std::move(state);
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties") ||
        message.member() != QLatin1String("Get")) {
      return false;
    }
    const QString property = message.arguments().value(1).toString();
    mutex_.lock();
    const unsigned long delay = state_.answerDelayMilliseconds;
    mutex_.unlock();
    QThread::msleep(delay);
    const QMutexLocker lock(&mutex_);
    if (state_.silenced.contains(property) || state_.silenced.contains(QStringLiteral("*"))) return true;
    QVariant value;
    if (property == QLatin1String("PlaybackStatus")) value = state_.playbackStatus;
    if (property == QLatin1String("Position")) value = state_.position;
    if (property == QLatin1String("Metadata")) value = state_.metadata;
    connection.send(value.isValid()
                        ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                        : message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), property));
    return true;
  }

 private:
  QMutex mutex_;
  State state_;
};

FakeMprisPlayer::FakeMprisPlayer(const QString& busAddress, const QString& name)
    : serviceName_(QStringLiteral("org.mpris.MediaPlayer2.") + name), object_(std::make_unique<Object>()) {
  static std::atomic<int> players = 0;
  connectionName_ = QStringLiteral("fake-mpris-player-%1").arg(++players);
  thread_.start();
  object_->moveToThread(&thread_);
  QDBusConnection connection = QDBusConnection::connectToBus(busAddress, connectionName_);
  if (!connection.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), object_.get()) ||
      !connection.registerService(serviceName_)) {
    vanish();
    thread_.quit();
    thread_.wait();
    throw std::runtime_error("the fake player could not take its place on the bus");
  }
}

FakeMprisPlayer::~FakeMprisPlayer() {
  vanish();
  thread_.quit();
  thread_.wait();
}

void FakeMprisPlayer::set(State state) { object_->set(std::move(state)); }

void FakeMprisPlayer::vanish() {
  QDBusConnection connection(connectionName_);
  if (!connection.isConnected()) return;
  connection.unregisterService(serviceName_);
  connection.unregisterObject(QStringLiteral("/org/mpris/MediaPlayer2"));
  QDBusConnection::disconnectFromBus(connectionName_);
}

}  // namespace winapi::test
