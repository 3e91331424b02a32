// The desktop of the tests: records every box, dialog and shell call and
// answers from queues; its clipboard is a string that feeds the viewer chain.
#pragma once

#include "platform/Desktop.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// A box or dialog with no queued answer (or a box whose text differs from
// the expected one) is a test failure: it is reported to OnUnexpected, or
// aborts the program when no hook is set.
class ScriptedDesktop final : public IDesktop {
 public:
  struct Box {
    std::string Caption;
    std::string Text;
    UINT Flags = 0;
    UINT Buttons() const { return Flags & MB_TYPEMASK; }
    UINT Icon() const { return Flags & MB_ICONMASK; }
  };
  struct ExpectedBox {
    std::optional<std::string> Text;  // checked when set
    int Answer = IDOK;
  };
  struct FolderCall {
    std::string Caption;
    std::wstring Root;
    std::string Path;  // the path passed in
  };

  std::vector<Box> Boxes;
  std::deque<ExpectedBox> BoxAnswers;
  std::vector<FolderCall> FolderCalls;
  std::deque<std::optional<std::string>> FolderAnswers;        // nullopt = cancel
  std::vector<TOpenDialogOptions> OpenCalls;
  std::deque<std::optional<std::vector<std::string>>> OpenAnswers;  // nullopt = cancel
  std::vector<std::string> Opened;  // ShellOpen targets
  std::vector<std::string> ShownInFolder;  // ShowInFolder files
  struct Notification {
    std::string Summary, Body;
    bool Failure = false;
  };
  std::vector<Notification> Notifications;
  TPoint Cursor{100, 100};
  TSize Screen{1024, 768};
  std::function<void(const std::string& what)> OnUnexpected;
  // Runs when a box is shown, before it is answered (e.g. to check state).
  std::function<void(const Box&)> OnBox;

  void ExpectBox(int answer) { BoxAnswers.push_back({std::nullopt, answer}); }
  void ExpectBox(const std::string& text, int answer) { BoxAnswers.push_back({text, answer}); }

  // Changes the clipboard and notifies the viewer chain, as a copy in
  // another program would.
  void CopyText(const std::string& text);
  // Puts something that is not text on the clipboard and notifies.
  void CopyNonText();

  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override;
  bool BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) override;
  bool OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) override;
  void ShellOpen(const std::string& target) override;
  std::optional<std::string> ClipboardText() override { return clipboard_; }
  void SetClipboardText(const std::string& text) override;
  TPoint CursorPos() override { return Cursor; }
  TSize ScreenSize() override { return Screen; }
  void ShowInFolder(const std::string& file) override { ShownInFolder.push_back(file); }
  void Notify(const std::string& summary, const std::string& body, bool failure) override {
    Notifications.push_back({summary, body, failure});
  }

 private:
  void Unexpected(const std::string& what);
  std::optional<std::string> clipboard_;
};

}  // namespace plat
