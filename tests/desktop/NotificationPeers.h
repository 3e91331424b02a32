// A desktop of the tests' own for notifications: a private D-Bus session
// (dbus-daemon with an address of its own), an X display (Xvfb) and dunst,
// the notification server, on them. dunst runs a script for every
// notification of the program, which writes it to a log:
// "appname|summary|body|icon|urgency".
#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>

#include <string>

#include "cli/E2eSupport.h"

namespace dbustest {

class TNotificationDesktop {
 public:
  e2e::TTempDir Dir;
  std::string BusAddress;
  std::string Display;
  std::string Error;

  std::string Log() const { return Dir / "notifications.log"; }

  // False (with the reason in Error) when a piece cannot be started.
  bool Start() {
    FBus = std::make_unique<e2e::TChild>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
                                 "--address=unix:path=" + (Dir / "bus")},
        e2e::Environment({}));
    if (!FBus->ReadUntil([](const std::string& out, const std::string&) { return out.find('\n') != std::string::npos; },
                         10000))
      return Fail("dbus-daemon gave no address: " + FBus->ErrText);
    BusAddress = FBus->OutText.substr(0, FBus->OutText.find('\n'));

    FX = std::make_unique<e2e::TChild>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
        e2e::Environment({}));
    if (!FX->ReadUntil([](const std::string& out, const std::string&) { return out.find('\n') != std::string::npos; },
                       10000))
      return Fail("Xvfb gave no display: " + FX->ErrText);
    Display = ":" + FX->OutText.substr(0, FX->OutText.find('\n'));

    e2e::WriteFile(Dir / "log.sh", "#!/bin/sh\nprintf '%s|%s|%s|%s|%s\\n' \"$1\" \"$2\" \"$3\" \"$4\" \"$5\" >> '" +
                                       Log() + "'\n");
    ::chmod((Dir / "log.sh").c_str(), 0755);
    e2e::WriteFile(Dir / "dunstrc", "[global]\n    monitor = 0\n    follow = none\n\n"
                                    "[clipharbor]\n    appname = Clipharbor\n    script = " + (Dir / "log.sh") + "\n");
    FDunst = std::make_unique<e2e::TChild>(
        std::vector<std::string>{"dunst", "-config", Dir / "dunstrc"},
        e2e::Environment({{"DISPLAY", Display}, {"DBUS_SESSION_BUS_ADDRESS", BusAddress}, {"XDG_CONFIG_HOME", Dir.Path},
                          {"WAYLAND_DISPLAY", std::nullopt}}));
    // Ready once it owns the notification service on the bus.
    QDBusConnection probe = QDBusConnection::connectToBus(QString::fromStdString(BusAddress), "notification-probe");
    bool owned = false;
    for (int i = 0; i < 200 && !owned; ++i) {
      owned = probe.isConnected() && probe.interface()->isServiceRegistered("org.freedesktop.Notifications");
      if (!owned) QTest::qWait(50);
    }
    QDBusConnection::disconnectFromBus("notification-probe");
    if (!owned) return Fail("dunst did not take org.freedesktop.Notifications: " + FDunst->ErrText);
    return true;
  }

  // The log once it has `lines` lines, or after 10 seconds.
  std::string WaitForLines(std::size_t lines) const {
    std::string text;
    for (int i = 0; i < 200; ++i) {
      text = e2e::ReadFile(Log());
      std::size_t n = 0;
      for (char c : text) n += c == '\n';
      if (n >= lines) break;
      QTest::qWait(50);
    }
    return text;
  }

 private:
  bool Fail(const std::string& why) {
    Error = why;
    return false;
  }
  // Members end in reverse order: dunst, the display, the bus.
  std::unique_ptr<e2e::TChild> FBus, FX, FDunst;
};

}  // namespace dbustest
