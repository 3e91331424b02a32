#include "app/core/AddressWords.h"

#include "platform/AsciiText.h"

std::vector<std::string> AddressesIn(const std::string& text) {
  std::vector<std::string> found;
  std::string::size_type i = 0;
  while (i < text.size()) {
    while (i < text.size() && ascii::IsBlank(text[i])) ++i;
    const std::string::size_type start = i;
    while (i < text.size() && !ascii::IsBlank(text[i])) ++i;
    if (i == start) break;
    std::string word = text.substr(start, i - start);
    if (ascii::StartsNoCase(word, "http://") || ascii::StartsNoCase(word, "https://")) found.push_back(std::move(word));
  }
  return found;
}
