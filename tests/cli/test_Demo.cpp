// The demo's job (scripts/demo-job, which scripts/demo runs after building):
// it must end with the downloaded FLV and a playable MP3.
#include <gtest/gtest.h>

#include "cli/E2eSupport.h"

#include <regex>

using namespace e2e;

TEST(Demo, JobEndsWithPlayableMp3) {
  TTempDir out;
  TRunResult r = RunProcess({SourceDir() + "/scripts/demo-job", BinaryDir(), out.Path}, Environment({}), "", 55000);
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const std::string flv = out / "Clipharbor Sample.flv";
  const std::string mp3 = out / "Clipharbor Sample.mp3";
  const std::string flvSize = std::to_string(ReadFile(flv).size());
  const std::string mp3Size = std::to_string(ReadFile(mp3).size());
  EXPECT_NE(r.Out.find(flvSize + " bytes  " + flv), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(mp3Size + " bytes  " + mp3), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("The downloaded FLV is identical to what the service served."), std::string::npos);

  TRunResult probe = RunProcess({"ffprobe", "-v", "error", "-show_entries",
                                 "format=format_name,duration:stream=codec_name:format_tags=title,comment", "-of",
                                 "default=nw=1", mp3},
                                Environment({}));
  ASSERT_EQ(probe.ExitCode, 0) << probe.Err;
  EXPECT_NE(probe.Out.find("codec_name=mp3"), std::string::npos) << probe.Out;
  EXPECT_NE(probe.Out.find("format_name=mp3"), std::string::npos) << probe.Out;
  // Tagged with the page it came from: its title and its address.
  EXPECT_NE(probe.Out.find("TAG:title=Clipharbor Sample\n"), std::string::npos) << probe.Out;
  EXPECT_TRUE(std::regex_search(probe.Out, std::regex("TAG:comment=http://127\\.0\\.0\\.1:[0-9]+/watch\\?v=piEWjpA_51Q\n")))
      << probe.Out;
  const std::string::size_type at = probe.Out.find("duration=");
  ASSERT_NE(at, std::string::npos);
  const double seconds = std::atof(probe.Out.c_str() + at + 9);
  // The sample is three seconds of tone; a cut-short conversion would be shorter.
  EXPECT_GT(seconds, 2.5);
  EXPECT_LT(seconds, 4.0);
}
