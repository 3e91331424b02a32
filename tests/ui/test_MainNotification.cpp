// The end of a job told by a desktop notification, the whole way: the main
// window with the real Qt desktop, whose session bus is a private one where
// dunst serves notifications on Xvfb. Only while another program is in front.
#include "MainFixture.h"

#include "desktop/NotificationPeers.h"
#include "desktop/QtDesktop.h"

#include <QTest>

TEST_F(MainWindowTest, TheEndOfAJobReachesTheNotificationServerOnlyFromBehind) {
  dbustest::TNotificationDesktop server;
  ASSERT_TRUE(server.Start()) << server.Error;
  ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", server.BusAddress.c_str());
  plat::QtDesktop desktop;  // connects to the session bus of now on its first call
  plat::ScopedDesktop real(desktop);

  TfrmMain& f = Open();
  f.eOutputFolder->setText(QString::fromStdString(Dir()));
  f.eUrl->setText("http://www.youtube.com/watch?v=abc");
  log_.Outcomes = {{"http://www.youtube.com/watch?v=abc", TJobMode::jmDownload, {Dir() + "/Clip.flv"}, ""}};
  f.activateWindow();
  QTest::qWait(20);
  f.bStart->click();  // in front: nothing

  QWidget other;
  log_.OnShow = [&] {
    other.show();
    other.activateWindow();
    QTest::qWait(20);
  };
  log_.Outcomes = {{"http://www.youtube.com/watch?v=abc", TJobMode::jmDownload, {}, "Download failed: 503 Service Unavailable"}};
  f.bStart->click();
  const std::string log = server.WaitForLines(1);
  EXPECT_EQ(log,
            "Clipharbor|Failed|http://www.youtube.com/watch?v=abc: Download failed: 503 Service Unavailable|clipharbor|"
            "CRITICAL\n");
  EXPECT_TRUE(desk_.Notifications.empty());  // the scripted desktop was not the one in use
}
