// The freedesktop services the window reaches over D-Bus: notifications
// (org.freedesktop.Notifications) and a file picked out in the file
// manager (org.freedesktop.FileManager1). Every call is asynchronous, so a
// slow or missing service never holds the window up. Only the window
// program links this; the command line has no D-Bus.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

namespace plat {

class TDBusDesktop : public QObject {
  Q_OBJECT
 public:
  // `busAddress`: "" for the session bus (DBUS_SESSION_BUS_ADDRESS as it is
  // when this is made), else the address of another bus.
  explicit TDBusDesktop(const std::string& busAddress = std::string(), QObject* parent = nullptr);
  ~TDBusDesktop() override;

  bool Connected() const;

  // Shows a notification of the program. `done` gets the server's id, or 0
  // with the error's text when there is no server or it refused.
  void Notify(const std::string& summary, const std::string& body, bool failure,
              std::function<void(std::uint32_t id, const std::string& error)> done = nullptr);
  // Asks the file manager to show `file` in its folder; `fallback` runs
  // when none answers.
  void ShowItem(const std::string& file, std::function<void()> fallback);

 private:
  QString FConnectionName;
};

}  // namespace plat
