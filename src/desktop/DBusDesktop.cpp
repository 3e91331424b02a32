#include "desktop/DBusDesktop.h"

#include "platform/QtText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>
#include <QVariantMap>

#include <atomic>

namespace plat {

namespace {

const char* const kAppName = "Clipharbor";
const char* const kIconName = "clipharbor";  // the installed icon of the desktop entry
constexpr int kCallTimeoutMs = 5000;

QString NextConnectionName() {
  static std::atomic<int> serial{0};
  return QString("clipharbor-dbus-%1").arg(++serial);
}

}  // namespace

TDBusDesktop::TDBusDesktop(const std::string& busAddress, QObject* parent)
    : QObject(parent), FConnectionName(NextConnectionName()) {
  // A connection of its own, to the session bus the environment names now.
  if (busAddress.empty())
    QDBusConnection::connectToBus(QDBusConnection::SessionBus, FConnectionName);
  else
    QDBusConnection::connectToBus(ToQ(busAddress), FConnectionName);
}

TDBusDesktop::~TDBusDesktop() { QDBusConnection::disconnectFromBus(FConnectionName); }

bool TDBusDesktop::Connected() const { return QDBusConnection(FConnectionName).isConnected(); }

void TDBusDesktop::Notify(const std::string& summary, const std::string& body, bool failure,
                          std::function<void(std::uint32_t, const std::string&)> done) {
  QDBusConnection bus(FConnectionName);
  if (!bus.isConnected()) {
    if (done) done(0, "no D-Bus session");
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  // A failure stays until it is seen; a success is normal news.
  hints["urgency"] = QVariant::fromValue<uchar>(failure ? 2 : 1);
  hints["category"] = failure ? "transfer.error" : "transfer.complete";
  hints["desktop-entry"] = "clipharbor";
  call << QString(kAppName) << 0u << QString(kIconName) << ToQ(summary) << ToQ(body) << QStringList() << hints
       << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<uint> reply = *w;
    w->deleteLater();
    if (!done) return;
    if (reply.isError())
      done(0, FromQ(reply.error().message()));
    else
      done(reply.value(), std::string());
  });
}

void TDBusDesktop::ShowItem(const std::string& file, std::function<void()> fallback) {
  QDBusConnection bus(FConnectionName);
  if (!bus.isConnected()) {
    if (fallback) fallback();
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << QStringList{QUrl::fromLocalFile(ToQ(file)).toString(QUrl::FullyEncoded)} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [fallback](QDBusPendingCallWatcher* w) {
    const bool failed = w->isError();
    w->deleteLater();
    if (failed && fallback) fallback();
  });
}

}  // namespace plat
