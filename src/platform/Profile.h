// Profile strings in Windows INI files: sections and keys without regard to
// (ASCII) case, every write rewrites the file at once, a missing file,
// section or key gives the default. Files are written with CR LF line ends
// so that Windows reads them too.
#pragma once

#include <stdexcept>
#include <string>

namespace plat {

// The value of `key`, trimmed of blanks and with one pair of enclosing
// quotes removed; `def` when the file, section or key is missing.
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file);
// The value as a whole decimal integer (optional sign; "$1F"/"0x1F" hex);
// `def` when missing, not an integer or out of range.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& file);
// Sets `key` in `section`, creating section and file as needed; the rest of
// the file is kept. False when the file cannot be written or the key or
// value cannot be stored in an INI line (empty key, '=' in the key, line
// breaks, '[' / ']' in the section).
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file);
// Removes `key` (or, with an empty key, the whole section). False on write failure.
bool DeletePrivateProfileKey(const std::string& section, const std::string& key, const std::string& file);

class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The ini-file object the windows use: reads fall back to defaults, a
// failed write raises EIniFileException.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
  const std::string& FileName() const { return FFileName; }
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

 private:
  std::string FFileName;
};

}  // namespace plat
