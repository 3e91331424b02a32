// The name a download is saved under: cleaned of control characters, never
// hidden or empty, cut to the file system's limit at a character boundary.
#include "app/core/DownloadName.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(DownloadName, ControlCharactersAndForbiddenOnesAreDropped) {
  EXPECT_EQ(DownloadFileName("Clip\r\n\x1b]0;x\x07: <1>.flv", "id"), "Clip]0;x 1.flv");
}

TEST(DownloadName, LeadingDotsAndBlanksGoAndAnEmptyNameFallsBackToTheVideoId) {
  EXPECT_EQ(DownloadFileName("../../etc/passwd.flv", "id"), "etcpasswd.flv");
  EXPECT_EQ(DownloadFileName(" . .hidden.flv", "id"), "hidden.flv");
  EXPECT_EQ(DownloadFileName("a. b.flv", "id"), "a. b.flv");  // only leading ones
  EXPECT_EQ(DownloadFileName(".flv", "Xk3mP9qA_7w"), "Xk3mP9qA_7w.flv");
  EXPECT_EQ(DownloadFileName("\x01/..?.flv", "../x&feature=y"), "x&feature=y.flv");
  EXPECT_EQ(DownloadFileName(".flv", "./"), "get_video.flv");
  // The design text has no extension and stays as it is.
  EXPECT_EQ(DownloadFileName("get_video", "id"), "get_video");
}

TEST(DownloadName, LongTitlesAreCutSoThatThePartNameFits) {
  const std::size_t part = std::strlen(kPartSuffix) + std::strlen(kControlSuffix);
  const std::string fits(kMaxFileNameBytes - part - 4, 'a');
  EXPECT_EQ(DownloadFileName(fits + ".flv", "id"), fits + ".flv");
  EXPECT_EQ(DownloadFileName(fits + "b.flv", "id"), fits + ".flv");

  // Two-byte characters: an odd budget never ends half-way into one.
  std::string accents = "x";
  for (int i = 0; i < 200; ++i) accents += "\xc3\xa9";
  const std::string name = DownloadFileName(accents + ".flv", "id");
  EXPECT_EQ(name.size(), kMaxFileNameBytes - part - 1);  // 241 bytes of title would split a character
  EXPECT_EQ(name.substr(name.size() - 6), "\xc3\xa9.flv");

  // A long video id is cut the same way.
  EXPECT_EQ(DownloadFileName(".flv", std::string(400, 'v')), std::string(kMaxFileNameBytes - part - 4, 'v') + ".flv");
}

TEST(DownloadName, CutUtf8KeepsWholeSequences) {
  const std::string euro = "\xe2\x82\xac";  // three bytes
  const std::string clef = "\xf0\x9d\x84\x9e";  // four bytes
  EXPECT_EQ(CutUtf8("ab" + euro, 4), "ab");
  EXPECT_EQ(CutUtf8("ab" + euro, 5), "ab" + euro);
  EXPECT_EQ(CutUtf8("a" + clef + "b", 4), "a");
  EXPECT_EQ(CutUtf8("a" + clef + "b", 5), "a" + clef);
  EXPECT_EQ(CutUtf8("abc", 0), "");
  // Invalid runs of continuation bytes are not followed back further than
  // one sequence could reach.
  EXPECT_EQ(CutUtf8(std::string(10, '\x80'), 6).size(), 3u);
}
