// The choice of the desktop in use, and the one that shows nothing for
// programs that link no real desktop.
#include "platform/Desktop.h"

#include <cstdio>

namespace plat {

namespace {

// No screen: a box is a line on standard error, answered with the choice
// that changes nothing (Cancel, No or Abort), so that nothing is
// overwritten or created on a guess.
class NoScreenDesktop final : public IDesktop {
 public:
  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    switch (flags & MB_TYPEMASK) {
      case MB_OK: return IDOK;
      case MB_YESNO: return IDNO;
      case MB_ABORTRETRYIGNORE: return IDABORT;
      case MB_OKCANCEL:
      case MB_YESNOCANCEL:
      case MB_RETRYCANCEL:
      default: return IDCANCEL;
    }
  }
  bool BrowseForFolder(const std::string&, const std::wstring&, std::string&) override { return false; }
  bool OpenFileDialog(const TOpenDialogOptions&, std::vector<std::string>&) override { return false; }
  void ShellOpen(const std::string&) override {}
  std::optional<std::string> ClipboardText() override { return std::nullopt; }
  void SetClipboardText(const std::string&) override {}
  TPoint CursorPos() override { return {}; }
  TSize ScreenSize() override { return {}; }
};

IDesktop& NoScreen() {
  static NoScreenDesktop d;
  return d;
}

IDesktop* g_desktop = nullptr;
IDesktop& (*g_makeDefault)() = nullptr;

}  // namespace

void IDesktop::ShowInFolder(const std::string& file) {
  const std::string::size_type slash = file.rfind('/');
  ShellOpen(slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : file.substr(0, slash));
}

IDesktop& Desktop() {
  if (g_desktop) return *g_desktop;
  return g_makeDefault ? g_makeDefault() : NoScreen();
}

IDesktop* SetDesktop(IDesktop* desktop) {
  IDesktop* previous = g_desktop;
  g_desktop = desktop;
  return previous;
}

void SetDefaultDesktop(IDesktop& (*make)()) { g_makeDefault = make; }

}  // namespace plat
