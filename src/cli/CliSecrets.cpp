#include "cli/CliSecrets.h"

#include <algorithm>
#include <cstring>

namespace {

void Blank(char* text, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i) text[i] = '*';
}

// Blanks the password of the address at `text` (a C string of the argument
// area, from its start or after "--proxy=").
void BlankAddressPassword(char* text, bool schemeOptional) {
  const auto [first, last] = PasswordSpan(text, schemeOptional);
  Blank(text, first, last);
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

}  // namespace

std::pair<std::size_t, std::size_t> PasswordSpan(const std::string& address, bool schemeOptional) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string::npos && !schemeOptional) return {0, 0};
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t end = std::min(address.find_first_of("/?#", start), address.size());
  const std::size_t at = address.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start) return {0, 0};
  const std::size_t colon = address.find(':', start);
  if (colon == std::string::npos || colon > at) return {0, 0};
  return {colon + 1, at};
}

void BlankSecretArguments(int argc, char** argv) {
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    char* arg = argv[i];
    if (options && std::strcmp(arg, "--") == 0) {
      options = false;
    } else if (options && std::strcmp(arg, "--password") == 0) {
      if (i + 1 < argc) Blank(argv[i + 1], 0, std::strlen(argv[i + 1]));
      ++i;
    } else if (options && StartsWith(arg, "--password=")) {
      Blank(arg, std::strlen("--password="), std::strlen(arg));
    } else if (options && std::strcmp(arg, "--proxy") == 0) {
      if (i + 1 < argc) BlankAddressPassword(argv[i + 1], true);
      ++i;
    } else if (options && StartsWith(arg, "--proxy=")) {
      BlankAddressPassword(arg + std::strlen("--proxy="), true);
    } else {
      BlankAddressPassword(arg, false);
    }
  }
}
