// The tags a converted file carries: the title of the page it came from and
// the page's address, handed to the converter as "-metadata" entries of its
// argument list (never through a shell), in UTF-8 as the containers want.
#pragma once

#include <string>
#include <vector>

struct TConvertTags {
  std::string Title;    // "" for none
  std::string Address;  // "" for none

  bool operator==(const TConvertTags&) const = default;
};

// The tags of a job whose input came from `address`: its user and password
// are left out, since the file outlives the session they belong to.
TConvertTags TagsForSource(const std::string& title, const std::string& address);

// "-metadata", "title=...", "-metadata", "comment=..." for the tags that are
// set; nothing for empty ones.
std::vector<std::string> TagArguments(const TConvertTags& tags);

// A tag value as the containers store it: valid UTF-8 is kept, any other
// text is read as Latin-1 (what 8-bit pages mostly are); control
// characters become blanks and blanks around the text are dropped.
std::string TagText(const std::string& text);

// `address` without the "user:password@" of its authority.
std::string AddressWithoutCredentials(const std::string& address);
