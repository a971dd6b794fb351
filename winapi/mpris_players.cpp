// The MPRIS media players on the D-Bus session bus, through QtDBus: the bus's names under
// org.mpris.MediaPlayer2, each player's PlaybackStatus, Position and Metadata. Every call
// carries the reply timeout; the players' statuses are asked all at once, so the search
// waits one timeout however many players hang. A search and the calls after it share one
// press limit: each wait takes at most what the press has left, and once it is spent the
// calls answer as a player that does not answer, without asking. A player that is gone or
// does not answer in time gives nullopt; one that answers with an error or with a value of
// an unexpected type counts as present with that value empty (0, no text). The connection
// is made anew when the session bus address changes or the connection was lost, on a
// thread of its own and awaited for one reply timeout at most; no address, no players (the
// bus is never auto-launched). Not here: the player's controls (play, pause, seek), change
// signals, track lists.
#include "winapi/media_players.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMetaType>
#include <QVariant>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

namespace winapi {
namespace {

const QString PlayerNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString PlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QString sessionBusAddress() {
  const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!address.isEmpty()) return address;
  const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtimeDirectory.isEmpty()) return {};
  const std::filesystem::path socket = std::filesystem::path(runtimeDirectory.toStdString()) / "bus";
  std::error_code error;
  if (!std::filesystem::is_socket(socket, error)) return {};
  return QStringLiteral("unix:path=") + QString::fromStdString(socket.string());
}

// Replies that mean the player is not there to answer.
bool playerAbsent(const QDBusMessage& reply) {
  if (reply.type() == QDBusMessage::ReplyMessage) return false;
  if (reply.type() != QDBusMessage::ErrorMessage) return true;
  switch (QDBusError(reply).type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::UnknownObject:
      return true;
    default:
      return false;
  }
}

QDBusMessage propertyRequest(const QString& player, const QString& property) {
  QDBusMessage request = QDBusMessage::createMethodCall(player, PlayerPath, PropertiesInterface, QStringLiteral("Get"));
  request << PlayerInterface << property;
  return request;
}

// The property's value from a reply of Get; nullopt when the player did not answer.
std::optional<QVariant> valueIn(const QDBusMessage& reply) {
  if (playerAbsent(reply)) return std::nullopt;
  if (reply.type() != QDBusMessage::ReplyMessage) return QVariant();
  return reply.arguments().value(0).value<QDBusVariant>().variant();
}

std::int64_t saturatedMicroseconds(double value) {
  constexpr double Limit = 9223372036854775808.0;  // 2^63
  if (value >= Limit) return std::numeric_limits<std::int64_t>::max();
  if (value <= -Limit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

// A time in microseconds as players send it: any integer type, a double, or a number as
// text. Beyond the 64-bit range it saturates; anything else is 0.
std::int64_t microsecondsIn(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
      return value.toLongLong();
    case QMetaType::ULongLong:
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar: {
      const qulonglong unsignedValue = value.toULongLong();
      constexpr auto Max = static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max());
      return unsignedValue > Max ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(unsignedValue);
    }
    case QMetaType::Double: {
      const double number = value.toDouble();
      return std::isnan(number) ? 0 : saturatedMicroseconds(number);
    }
    case QMetaType::QString: {
      const QString text = value.toString().trimmed();
      bool ok = false;
      const qlonglong whole = text.toLongLong(&ok);
      if (ok) return whole;
      const double number = text.toDouble(&ok);
      return ok && !std::isnan(number) ? saturatedMicroseconds(number) : 0;
    }
    default:
      if (value.typeId() == qMetaTypeId<QDBusVariant>()) return microsecondsIn(value.value<QDBusVariant>().variant());
      return 0;
  }
}

QVariantMap mapIn(const QVariant& value) {
  if (value.typeId() == qMetaTypeId<QDBusArgument>()) return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
  return value.toMap();
}

// xesam:artist is a list of names; some players send one name as plain text.
QStringList artistsIn(const QVariant& value) {
  QStringList artists = value.typeId() == QMetaType::QString ? QStringList{value.toString()} : value.toStringList();
  artists.removeAll(QString());
  return artists;
}

// One attempt to connect to a bus, made on a thread of its own, so that a bus daemon that
// does not answer the handshake costs a caller one reply timeout instead of blocking it. An
// attempt given up before it finished closes its connection itself when it does finish.
class ConnectionAttempt {
 public:
  static std::shared_ptr<ConnectionAttempt> start(const QString& address) {
    static std::atomic<int> attempts = 0;
    auto attempt = std::make_shared<ConnectionAttempt>(QStringLiteral("kelvari-media-players-%1").arg(++attempts));
    std::thread([attempt, address] {
      QDBusConnection::connectToBus(address, attempt->name_);
      const std::lock_guard lock(attempt->mutex_);
      attempt->finished_ = true;
      if (attempt->abandoned_) QDBusConnection::disconnectFromBus(attempt->name_);
      attempt->finishedCondition_.notify_all();
    }).detach();
    return attempt;
  }

  explicit ConnectionAttempt(QString name) : name_(std::move(name)) {}

  // The connection, once made; waits at most `timeout` for the attempt to finish.
  std::optional<QDBusConnection> connection(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!finishedCondition_.wait_for(lock, timeout, [this] { return finished_; })) return std::nullopt;
    QDBusConnection bus(name_);
    if (!bus.isConnected()) return std::nullopt;
    return bus;
  }

  // Finished without a connection, or the connection was lost since.
  bool failed() {
    const std::lock_guard lock(mutex_);
    return finished_ && !QDBusConnection(name_).isConnected();
  }

  void abandon() {
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
    if (finished_) QDBusConnection::disconnectFromBus(name_);
  }

 private:
  const QString name_;
  std::mutex mutex_;
  std::condition_variable finishedCondition_;
  bool finished_ = false;
  bool abandoned_ = false;
};

// The time a press has left for waiting on the bus, handed out one wait at a time.
class PressTime {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PressTime(std::chrono::milliseconds limit) : limit_(limit), left_(limit) {}
  void start() { left_ = limit_; }
  // The limit of the next wait: the per-call limit, or less when the press has less left;
  // 0 when it has nothing left.
  int nextWait(int perCall) const {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left_.count(), 0, perCall));
  }
  void spend(Clock::time_point since) {
    left_ -= std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
  }

 private:
  std::chrono::milliseconds limit_;
  std::chrono::milliseconds left_;
};

class SessionBusPlayers final : public MediaPlayers {
 public:
  SessionBusPlayers(int replyTimeout, int pressLimit)
      : replyTimeout_(replyTimeout), press_(std::chrono::milliseconds(pressLimit)) {}
  ~SessionBusPlayers() override {
    if (attempt_) attempt_->abandon();
  }
  SessionBusPlayers(const SessionBusPlayers&) = delete;
  SessionBusPlayers& operator=(const SessionBusPlayers&) = delete;

  std::vector<PlayerStatus> players() override {
    press_.start();
    const std::optional<QDBusConnection> bus = connection();
    if (!bus) return {};
    const std::optional<QDBusMessage> names = call(
        *bus, QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                             QStringLiteral("/org/freedesktop/DBus"),
                                             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")));
    if (!names || names->type() != QDBusMessage::ReplyMessage) return {};

    const int wait = press_.nextWait(replyTimeout_);
    if (wait == 0) return {};
    const auto asked = PressTime::Clock::now();
    std::vector<std::pair<QString, QDBusPendingCall>> requests;
    for (const QString& name : names->arguments().value(0).toStringList()) {
      if (!name.startsWith(PlayerNamePrefix)) continue;
      const QDBusMessage request = propertyRequest(name, QStringLiteral("PlaybackStatus"));
      requests.emplace_back(name, bus->asyncCall(request, wait));
    }
    std::vector<PlayerStatus> found;
    for (auto& [name, request] : requests) {
      request.waitForFinished();
      if (const std::optional<QVariant> status = valueIn(request.reply())) found.push_back({name, status->toString()});
    }
    press_.spend(asked);
    return found;
  }

  std::optional<QString> playbackStatus(const QString& player) override {
    const std::optional<QVariant> status = property(player, QStringLiteral("PlaybackStatus"));
    if (!status) return std::nullopt;
    return status->toString();
  }

  std::optional<std::int64_t> positionMicroseconds(const QString& player) override {
    const std::optional<QVariant> position = property(player, QStringLiteral("Position"));
    if (!position) return std::nullopt;
    return microsecondsIn(*position);
  }

  std::optional<PlayerTrack> track(const QString& player) override {
    const std::optional<QVariant> metadata = property(player, QStringLiteral("Metadata"));
    if (!metadata) return std::nullopt;
    const QVariantMap fields = mapIn(*metadata);
    return PlayerTrack{.artists = artistsIn(fields.value(QStringLiteral("xesam:artist"))),
                       .title = fields.value(QStringLiteral("xesam:title")).toString(),
                       .lengthMicroseconds = microsecondsIn(fields.value(QStringLiteral("mpris:length")))};
  }

 private:
  std::optional<QVariant> property(const QString& player, const QString& name) {
    const std::optional<QDBusConnection> bus = connection();
    if (!bus) return std::nullopt;
    const std::optional<QDBusMessage> reply = call(*bus, propertyRequest(player, name));
    if (!reply) return std::nullopt;
    return valueIn(*reply);
  }

  // The reply, waited for within the press; nullopt when the press has no time left.
  std::optional<QDBusMessage> call(const QDBusConnection& bus, const QDBusMessage& request) {
    const int wait = press_.nextWait(replyTimeout_);
    if (wait == 0) return std::nullopt;
    const auto asked = PressTime::Clock::now();
    QDBusMessage reply = bus.call(request, QDBus::Block, wait);
    press_.spend(asked);
    return reply;
  }

  std::optional<QDBusConnection> connection() {
    const QString address = sessionBusAddress();
    if (address != address_ || (attempt_ && attempt_->failed())) {
      if (attempt_) attempt_->abandon();
      attempt_.reset();
      address_ = address;
      if (!address.isEmpty()) attempt_ = ConnectionAttempt::start(address);
    }
    const int wait = press_.nextWait(replyTimeout_);
    if (!attempt_ || wait == 0) return std::nullopt;
    const auto asked = PressTime::Clock::now();
    std::optional<QDBusConnection> bus = attempt_->connection(std::chrono::milliseconds(wait));
    press_.spend(asked);
    return bus;
  }

  int replyTimeout_;
  PressTime press_;
  QString address_;
  std::shared_ptr<ConnectionAttempt> attempt_;
};

}  // namespace

std::unique_ptr<MediaPlayers> makeSessionBusPlayers(int replyTimeout, int pressLimit) {
  return std::make_unique<SessionBusPlayers>(replyTimeout, pressLimit);
}

}  // namespace winapi
