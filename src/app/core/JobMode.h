// What one job does, set by its front end (the main window's radio buttons,
// or the command line's input and --format) and read by the job. The values
// are the ones settings.ini keeps under "RadioButton", so they never change.
#pragma once

#include <optional>

enum class TJobMode : int {
  jmDownload = 0,         // the video only
  jmDownloadConvert = 1,  // the video, then converted
  jmConvertFile = 2,      // a local FLV file converted; nothing downloaded
};

// The stored number of a mode, and the mode of a stored number (none for a
// number outside 0..2, which a hand-edited settings file may hold).
constexpr int StoredJobMode(TJobMode mode) { return static_cast<int>(mode); }
constexpr std::optional<TJobMode> JobModeFromStored(int stored) {
  if (stored < 0 || stored > 2) return std::nullopt;
  return static_cast<TJobMode>(stored);
}

constexpr bool Downloads(TJobMode mode) { return mode != TJobMode::jmConvertFile; }
constexpr bool Converts(TJobMode mode) { return mode != TJobMode::jmDownload; }
