// The test desktop: answers from its queues and reports what was not expected.
#include "platform/ScriptedDesktop.h"

#include "platform/ClipboardViewers.h"

#include <cstdio>
#include <cstdlib>

namespace plat {

void ScriptedDesktop::Unexpected(const std::string& what) {
  std::fprintf(stderr, "ScriptedDesktop: unexpected %s\n", what.c_str());
  if (OnUnexpected) {
    OnUnexpected(what);
    return;
  }
  std::abort();
}

int ScriptedDesktop::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  Box box{caption, text, flags};
  Boxes.push_back(box);
  if (OnBox) OnBox(box);
  if (BoxAnswers.empty()) {
    Unexpected("message box \"" + text + "\"");
    return (flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
  ExpectedBox e = BoxAnswers.front();
  BoxAnswers.pop_front();
  if (e.Text && *e.Text != text) Unexpected("message box \"" + text + "\", expected \"" + *e.Text + "\"");
  return e.Answer;
}

bool ScriptedDesktop::BrowseForFolder(const std::string& caption, const std::wstring& root, std::string& path) {
  FolderCalls.push_back({caption, root, path});
  if (FolderAnswers.empty()) {
    Unexpected("folder dialog \"" + caption + "\"");
    return false;
  }
  std::optional<std::string> a = FolderAnswers.front();
  FolderAnswers.pop_front();
  if (!a) return false;
  path = *a;
  return true;
}

bool ScriptedDesktop::OpenFileDialog(const TOpenDialogOptions& options, std::vector<std::string>& files) {
  OpenCalls.push_back(options);
  if (OpenAnswers.empty()) {
    Unexpected("file-open dialog");
    return false;
  }
  std::optional<std::vector<std::string>> a = OpenAnswers.front();
  OpenAnswers.pop_front();
  if (!a || a->empty()) return false;
  files = *a;
  return true;
}

void ScriptedDesktop::ShellOpen(const std::string& target) { Opened.push_back(target); }

void ScriptedDesktop::SetClipboardText(const std::string& text) { CopyText(text); }

void ScriptedDesktop::CopyText(const std::string& text) {
  clipboard_ = text;
  NotifyClipboardChanged();
}

void ScriptedDesktop::CopyNonText() {
  clipboard_.reset();
  NotifyClipboardChanged();
}

}  // namespace plat
