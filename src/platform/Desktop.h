// The desktop services behind one interface (message boxes, the folder and
// file-open dialogs, the shell's "Open", clipboard text, cursor and screen)
// and the choice of the one in use. The real one lives in the desktop
// library; the command line and the tests bring their own.
#pragma once

#include "platform/MessageLoop.h"

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
  // The folder that holds `file`, with the file picked out where the file
  // manager can do it; by default the shell opens the folder.
  virtual void ShowInFolder(const std::string& file);
  // A desktop notification; none by default (the command line shows none).
  virtual void Notify(const std::string& summary, const std::string& body, bool failure) {
    (void)summary, (void)body, (void)failure;
  }
};

// The current implementation: the one set, else the program's default.
IDesktop& Desktop();
// Replaces the current implementation; nullptr returns to the default.
// Returns the previous one set (nullptr for the default). Not owned.
IDesktop* SetDesktop(IDesktop* desktop);
// Names the default, made on its first use. The Qt desktop does this when
// it is linked; without one, a desktop that shows nothing is the default:
// boxes go to standard error and are answered Cancel, No or Abort (OK
// when that is the only button), dialogs are cancelled, the clipboard is
// empty.
void SetDefaultDesktop(IDesktop& (*make)());

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

}  // namespace plat
