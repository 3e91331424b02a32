// Small routines shared by the main window, the download window and the
// converter runner, and the progress record the converter posts.
#pragma once

#include <string>

// One report of a running conversion, posted with WM_CONVERTINFO; the
// receiver owns and deletes it.
struct TProcessInfo {
  int Percent = 0;        // 1..100; 100 in the final report
  std::string Elapsed;    // "mm:ss"
  std::string Estimated;  // "mm:ss"
  int Status = 0;         // 0 progress or end, 2 output file locked
};

// True for "http://...<service domain>...watch?v=..." in any letter case;
// nothing is trimmed.
bool IsVideoPageUrl(const std::string& address);
// Drops * / : < > ? \ | and the control characters (below 32, and 127);
// keeps every other byte.
std::string StripFileNameChars(const std::string& text);
// True when the file exists but cannot be opened for reading and writing,
// or another process holds an exclusive (flock or fcntl) lock on it.
bool IsFileLocked(const std::string& path);
// "0" + n below 10 (also for negative n), else n.
std::string TwoDigits(int n);
// Folder dialog with `caption`; `folder` is cleared first when it names no
// existing folder and receives the chosen path. `root` limits the tree when
// not empty. True when a folder was chosen.
bool SelectFolder(const std::string& caption, const std::wstring& root, std::string& folder);
