// Desktop services behind one interface: message boxes, the folder and
// file-open dialogs, the shell's "Open", clipboard text, cursor and screen.
// QtDesktop is the real one; ScriptedDesktop records and answers for tests.
// The clipboard-viewer chain and the single-instance handshake are free
// functions on top of them.
#pragma once

#include "platform/MessageLoop.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// Message box flags and answers, with the Windows values.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_OKCANCEL = 0x0001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x0002;
constexpr UINT MB_YESNOCANCEL = 0x0003;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_RETRYCANCEL = 0x0005;
constexpr UINT MB_TYPEMASK = 0x000F;
constexpr UINT MB_ICONHAND = 0x0010;
constexpr UINT MB_ICONERROR = 0x0010;
constexpr UINT MB_ICONSTOP = 0x0010;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;
constexpr UINT MB_ICONWARNING = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr UINT MB_ICONASTERISK = 0x0040;
constexpr UINT MB_ICONMASK = 0x00F0;
constexpr UINT MB_DEFBUTTON1 = 0x0000;
constexpr UINT MB_DEFBUTTON2 = 0x0100;
constexpr UINT MB_DEFBUTTON3 = 0x0200;
constexpr UINT MB_DEFMASK = 0x0F00;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Clipboard-viewer chain messages.
constexpr UINT WM_DRAWCLIPBOARD = 0x0308;
constexpr UINT WM_CHANGECBCHAIN = 0x030D;

struct TPoint {
  int X = 0;
  int Y = 0;
};
struct TSize {
  int Width = 0;
  int Height = 0;
};

// What a file-open dialog is asked for.
struct TOpenDialogOptions {
  std::string Title;
  // "Description|pattern|Description|pattern", patterns separated by ';'.
  std::string Filter;
  std::string FileName;  // initial file name ("" for none)
  std::string InitialDir;
  bool AllowMultiSelect = false;
  bool HideReadOnly = false;
  bool EnableSizing = false;
};

class IDesktop {
 public:
  virtual ~IDesktop() = default;
  // Modal box; flags = buttons | icon | default button. Returns an ID* value.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT flags) = 0;
  // Folder dialog centred on the screen; only file-system folders can be
  // chosen. True and the path in `path` when the user chose one.
  virtual bool BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) = 0;
  // File-open dialog. True and the chosen files (full paths) on confirm.
  virtual bool OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) = 0;
  // The shell's "Open" of a web address or a folder; the result is not reported.
  virtual void ShellOpen(const std::string& target) = 0;
  // Plain text on the clipboard, if the clipboard offers text.
  virtual std::optional<std::string> ClipboardText() = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual TPoint CursorPos() = 0;
  virtual TSize ScreenSize() = 0;
};

// The current implementation (a QtDesktop unless a test set another).
IDesktop& Desktop();
// Replaces the current implementation; nullptr returns to the QtDesktop.
// Returns the previous one set (nullptr for the QtDesktop). Not owned.
IDesktop* SetDesktop(IDesktop* desktop);

// Sets a desktop for the life of a scope.
class ScopedDesktop {
 public:
  explicit ScopedDesktop(IDesktop& d) : previous_(SetDesktop(&d)) {}
  ~ScopedDesktop() { SetDesktop(previous_); }
  ScopedDesktop(const ScopedDesktop&) = delete;
  ScopedDesktop& operator=(const ScopedDesktop&) = delete;

 private:
  IDesktop* previous_;
};

class QtDesktop final : public IDesktop {
 public:
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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Records every call and answers from queues. A box or dialog with no
// queued answer (or a box whose text differs from the expected one) is a
// test failure: it is reported to OnUnexpected, or aborts the program when
// no hook is set.
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

 private:
  void Unexpected(const std::string& what);
  std::optional<std::string> clipboard_;
};

// ---- Clipboard-viewer chain (in this process, over message windows) ----
// Puts `wnd` at the head of the chain; returns the previous head (0: none).
HWND SetClipboardViewer(HWND wnd);
// Takes `remove` out of the chain, `next` being its successor: the head
// moves on when `remove` is the head, otherwise the head is sent
// WM_CHANGECBCHAIN(remove, next) to pass along the chain.
bool ChangeClipboardChain(HWND remove, HWND next);
// The head of the chain, 0 when empty.
HWND GetClipboardViewer();
// Sends WM_DRAWCLIPBOARD to the head; desktops call it on every change.
void NotifyClipboardChanged();

// ---- Single instance ----
// Delivers msg(wParam, lParam) to a running instance registered under
// `className` (its window then brings itself to the front). True when a
// running instance's window has handled it.
bool PostToRunningInstance(const std::string& className, UINT msg, WPARAM wParam, LPARAM lParam,
                           int timeoutMs = 3000);
// Registers this process under `className`; what a later instance delivers
// is sent to `wnd` from the main loop. False when the name cannot be taken.
// The socket lives in the temporary folder (TMPDIR), one per user.
bool RegisterInstance(const std::string& className, HWND wnd);
void UnregisterInstance();

}  // namespace plat
