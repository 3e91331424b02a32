// The real desktop on Qt Widgets: message boxes, the folder and file-open
// dialogs, the shell's "Open", the system clipboard, cursor and screen, and
// over the session's D-Bus the file manager and desktop notifications.
// Linking this library makes it the default desktop of the program.
#pragma once

#include "platform/Desktop.h"

#include <memory>

namespace plat {

class QtDesktop final : public IDesktop {
 public:
  // Watches the system clipboard (when the application has one) and feeds
  // the viewer chain while it is the desktop in use.
  QtDesktop();
  ~QtDesktop() override;
  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override;
  bool BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) override;
  bool OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) override;
  void ShellOpen(const std::string& target) override;
  std::optional<std::string> ClipboardText() override;
  void SetClipboardText(const std::string& text) override;
  TPoint CursorPos() override;
  TSize ScreenSize() override;
  void ShowInFolder(const std::string& file) override;
  void Notify(const std::string& summary, const std::string& body, bool failure) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
