// The window's D-Bus calls against real peers on a private session bus:
// notifications reach dunst with their texts and urgency, "show in folder"
// reaches a file manager service, and without a service or a bus the
// caller hears of it (the folder is opened instead).
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QTest>

#include "desktop/DBusDesktop.h"
#include "desktop/NotificationPeers.h"

namespace {

// A file manager that only records what it is asked to show.
class TFakeFileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public:
  QStringList Shown;
 public slots:
  void ShowItems(const QStringList& uris, const QString& startupId) {
    (void)startupId;
    Shown << uris;
  }
};

template <typename Pred>
bool WaitFor(Pred done, int ms = 10000) {
  for (int waited = 0; !done() && waited < ms; waited += 20) QTest::qWait(20);
  return done();
}

}  // namespace

TEST(DBusDesktop, NotificationsReachDunstOnAPrivateSession) {
  dbustest::TNotificationDesktop desk;
  ASSERT_TRUE(desk.Start()) << desk.Error;
  plat::TDBusDesktop bus(desk.BusAddress);
  ASSERT_TRUE(bus.Connected());

  std::uint32_t id = 0;
  std::string error = "<none yet>";
  bus.Notify("2 files saved", "/videos/Clip.flv\n/videos/Clip.mp3", false, [&](std::uint32_t i, const std::string& e) {
    id = i;
    error = e;
  });
  ASSERT_TRUE(WaitFor([&] { return error != "<none yet>"; }));
  EXPECT_EQ(error, "");
  EXPECT_GT(id, 0u);
  bus.Notify("Failed", "http://x/watch?v=1: Download failed: 404 Not Found", true);
  const std::string log = desk.WaitForLines(3);  // the body's line break makes the first two lines
  EXPECT_NE(log.find("Clipharbor|2 files saved|/videos/Clip.flv\n/videos/Clip.mp3|clipharbor|NORMAL\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Clipharbor|Failed|http://x/watch?v=1: Download failed: 404 Not Found|clipharbor|CRITICAL\n"),
            std::string::npos)
      << log;
}

TEST(DBusDesktop, ShowInFolderAsksTheFileManagerAndFallsBackWithoutOne) {
  dbustest::TNotificationDesktop desk;
  ASSERT_TRUE(desk.Start()) << desk.Error;
  QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(desk.BusAddress), "file-manager");
  TFakeFileManager manager;
  ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));

  plat::TDBusDesktop bus(desk.BusAddress);
  int fallbacks = 0;
  bus.ShowItem("/videos/My Clip.flv", [&] { ++fallbacks; });
  ASSERT_TRUE(WaitFor([&] { return !manager.Shown.isEmpty(); })) << "the file manager was not asked";
  EXPECT_EQ(manager.Shown, QStringList{"file:///videos/My%20Clip.flv"});
  EXPECT_EQ(fallbacks, 0);

  // No file manager on the bus: the caller's fallback runs.
  service.unregisterService("org.freedesktop.FileManager1");
  bus.ShowItem("/videos/My Clip.flv", [&] { ++fallbacks; });
  EXPECT_TRUE(WaitFor([&] { return fallbacks == 1; }));
  QDBusConnection::disconnectFromBus("file-manager");

  // No bus at all: at once, and a notification says why it went nowhere.
  plat::TDBusDesktop none("unix:path=" + (desk.Dir / "no-bus-here"));
  EXPECT_FALSE(none.Connected());
  none.ShowItem("/videos/x.flv", [&] { ++fallbacks; });
  EXPECT_EQ(fallbacks, 2);
  std::string error;
  none.Notify("s", "b", false, [&](std::uint32_t, const std::string& e) { error = e; });
  EXPECT_FALSE(error.empty());
}

#include "test_DBusDesktop.moc"
