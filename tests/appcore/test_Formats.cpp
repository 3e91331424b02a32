#include "app/core/Formats.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(Formats, TableRowsInListOrder) {
  const char* labels[FormatCount] = {
      "Ipod Video (Apple QuickTime MOV)", "Iphone Video (MPEG-4 MP4)", "PSP Video (H.264 MP4)",
      "Cell Phone (H.263 3GP)",           "Windows Media Video (WMV)", "XVid MPEG-4 Codec (AVI)",
      "Microsoft Mpeg4 AVI (AVI)",        "MPEG Audio Layer 3 (MP3)",  "Microsoft WAV (WAV)",
      "MPEG1 Movie (MPG)",
      // Added after the first ten, which keep their indices.
      "H.264 Video at source size (H.264/AAC MP4)", "WebM Video (VP9/Opus WEBM)", "AAC Audio (M4A)",
      "Opus Audio (OPUS)"};
  const char* exts[FormatCount] = {".mov", ".mp4", ".mp4", ".3gp", ".wmv", ".avi", ".avi",
                                   ".mp3", ".wav", ".mpg", ".mp4", ".webm", ".m4a", ".opus"};
  for (int i = 0; i < FormatCount; ++i) {
    const TFormat* f = FormatAt(i);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::string(f->Label), labels[i]) << i;
    // The extension follows from the label by the lookup rule.
    EXPECT_EQ(ExtensionForLabel(f->Label), exts[i]) << i;
    EXPECT_EQ(std::string(f->Extension), exts[i]) << i;
  }
  EXPECT_EQ(FormatAt(-1), nullptr);
  EXPECT_EQ(FormatAt(FormatCount), nullptr);
}

TEST(Formats, PresetsEndWithOneBlankAndUseShortBitRates) {
  for (int i = 0; i < FormatCount; ++i) {
    std::string p = PresetForIndex(i);
    ASSERT_GE(p.size(), 2u) << i;
    EXPECT_EQ(p.back(), ' ') << i;
    EXPECT_NE(p[p.size() - 2], ' ') << i;
    EXPECT_EQ(p.find("kbit/s"), std::string::npos) << i;
    EXPECT_NE(p.front(), ' ') << i;
  }
  EXPECT_EQ(PresetForIndex(0), "-s 320x240 -qscale 15 -r 20 -b 500k -ar 22050 -ab 64k -ac 1 ");
  EXPECT_EQ(PresetForIndex(3), "-vcodec h263 -qscale 15 -s 176x144 -r 15 -b 30k -ar 8000 -ab 12.2k -ac 1 -acodec aac ");
  EXPECT_EQ(PresetForIndex(4),
            "-s 320x240 -qscale 15 -b 50k -ar 22050 -ab 64k -ac 2 -vcodec wmv1 -acodec adpcm_ima_wav ");
  EXPECT_EQ(PresetForIndex(9), "-ab 64k -ar 22050 -b 500k -s 320x240 -r 25 -ac 2 ");
  EXPECT_EQ(PresetForIndex(7), PresetForIndex(8));
  std::set<std::string> distinct;
  for (int i = 0; i < FormatCount; ++i) distinct.insert(PresetForIndex(i));
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(FormatCount - 1));
  // The newer rows keep the source's frame size and rate, and the audio-only
  // ones drop the picture.
  for (int i = 10; i < FormatCount; ++i) {
    EXPECT_EQ(PresetForIndex(i).find("-s "), std::string::npos) << i;
    EXPECT_EQ(PresetForIndex(i).find("-r "), std::string::npos) << i;
    EXPECT_EQ(PresetForIndex(i).rfind("-vn ", 0) == 0, i >= 12) << i;
  }
}

TEST(Formats, PresetOutsideTableIsEmpty) {
  EXPECT_EQ(PresetForIndex(-1), "");
  EXPECT_EQ(PresetForIndex(FormatCount), "");
  EXPECT_EQ(PresetForIndex(1000000), "");
}

TEST(Formats, ExtensionDependsOnLabelTextOnly) {
  EXPECT_EQ(ExtensionForLabel("anything (MPEG-4 MP4)"), ".mp4");
  EXPECT_EQ(ExtensionForLabel("lower case (mpeg-4 mp4)"), ".mp4");
  EXPECT_EQ(ExtensionForLabel("MP4 without paren"), "");
  EXPECT_EQ(ExtensionForLabel(""), "");
  // A later rule overrides an earlier one, whatever the order in the label.
  EXPECT_EQ(ExtensionForLabel("(MPG) (MOV)"), ".mpg");
  EXPECT_EQ(ExtensionForLabel("WAV) MP3)"), ".wav");
  EXPECT_EQ(ExtensionForLabel("x AVI) 3GP)"), ".avi");
  // The markers of the newer rows come last, and none of the first ten
  // labels holds one.
  EXPECT_EQ(ExtensionForLabel("(webm) (MP4)"), ".webm");
  EXPECT_EQ(ExtensionForLabel("audio (m4a)"), ".m4a");
  EXPECT_EQ(ExtensionForLabel("(OPUS) (MP3)"), ".opus");
  EXPECT_EQ(ExtensionForLabel("Opus in WebM (VP9/Opus WEBM)"), ".webm");
}
