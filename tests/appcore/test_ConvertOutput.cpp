// The converted file appears under its final name only when the conversion
// succeeded: it is written under "name.part.ext" and renamed at the end; a
// failure or Stop removes it and leaves an existing file of that name as it
// was. Success needs exit status 0, no write error reported and a non-empty
// output.
#include "ConvertScripted.h"
#include "app/core/ConvertOutput.h"

using namespace convtest;

namespace {

TEST(ConvertOutputName, PartGoesBeforeTheExtension) {
  EXPECT_EQ(TemporaryOutputName("/d/clip.mp3"), "/d/clip.part.mp3");
  EXPECT_EQ(TemporaryOutputName("/d/a.b c.wav"), "/d/a.b c.part.wav");
  EXPECT_EQ(TemporaryOutputName("rel.avi"), "rel.part.avi");
  // No extension in the name (a dot in a folder does not count).
  EXPECT_EQ(TemporaryOutputName("/d.x/clip"), "/d.x/clip.part");
  EXPECT_EQ(TemporaryOutputName("/d/.mp3"), "/d/.part.mp3");
}

class ConvertOutputScripted : public ConvertScripted {
 protected:
  std::string Temp() const { return Dir.File("my clip.part.mp3"); }
};

TEST_F(ConvertOutputScripted, WrittenAsPartAndRenamedOnSuccess) {
  // While the converter runs, its output stands under the temporary name only.
  Script({{"output", "converted"}, {"err", "Duration: 00:00:10.00\n"}, {"err", "time=00:00:05.00\r"},
          {"sleep", "0.5"}, {"exit", "0"}});
  Run();
  ASSERT_TRUE(PumpUntil([this] { return !Win.Percents().empty(); }, 15000));
  EXPECT_EQ(ReadFile(Temp()), "converted");
  EXPECT_FALSE(Exists(Proc->FOutputFile));
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csProgress);
  EXPECT_EQ(ReadFile(Proc->FOutputFile), "converted");
  EXPECT_FALSE(Exists(Temp()));
}

TEST_F(ConvertOutputScripted, FailureRemovesThePartAndKeepsTheOldFile) {
  WriteFile(Proc->FOutputFile, "old");
  Script({{"output", "half"}, {"err", "Error while encoding\n"}, {"exit", "1"}});
  Run();
  ASSERT_EQ(Asked.size(), 1u);  // the question still concerns the final name
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(ReadFile(Proc->FOutputFile), "old");
  EXPECT_FALSE(Exists(Temp()));
}

TEST_F(ConvertOutputScripted, StopRemovesThePartAndKeepsTheOldFile) {
  WriteFile(Proc->FOutputFile, "old");
  const std::string pids = Dir.File("pids.json");
  Script({{"output", "half"}, {"pids", pids}, {"hang"}});
  Run();
  ASSERT_TRUE(PumpUntil([&] { return Exists(pids) && Exists(Temp()); }, 15000));
  Proc->StopProcess(0);
  EXPECT_FALSE(Exists(Temp()));
  EXPECT_EQ(ReadFile(Proc->FOutputFile), "old");
  EXPECT_TRUE(WaitReaders());
}


TEST(ConvertWriteErrors, TheConvertersWordsForAFailedWrite) {
  for (const char* line : {"Error writing trailer of : No space left on device",
                           "Error closing file : File too large",
                           "av_interleaved_write_frame(): Invalid argument",
                           "[mp4 @ 0x55] muxer: Disk quota exceeded",
                           "Error writing trailer of : Input/output error"})
    EXPECT_TRUE(IsWriteErrorLine(line)) << line;
  for (const char* line : {"Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)",
                           "Error while decoding stream #0:1: Invalid data found when processing input",
                           "Error closing logfile, loss of information possible: Broken pipe",
                           "size=      20kB time=00:00:01.07 bitrate= 152.9kbits/s speed=23.9x", ""})
    EXPECT_FALSE(IsWriteErrorLine(line)) << line;
  // A file name proves nothing once it is taken out.
  const std::string name = "/v/No space left on device.flv";
  EXPECT_FALSE(IsWriteErrorLine(WithoutName("Input #0, flv, from '" + name + "':", name)));
  EXPECT_EQ(WithoutName("a x b x", "x"), "a  b ");
  EXPECT_EQ(WithoutName("abc", ""), "abc");
}

TEST_F(ConvertOutputScripted, WriteErrorWithExitZeroIsAFailure) {
  Script({{"output", "half"},
          {"err", "Output #0, mp3, to '" + Temp() + "':\n"},
          {"err", "size=  4kB time=00:00:00.02 bitrate=1435.8kbits/s speed=N/A    \r"
                  "Error writing trailer of " + Temp() + ": No space left on device\n"},
          {"err", "video:0kB audio:184kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: unknown\n"},
          {"exit", "0"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc->LastErrorLine(), "Error writing trailer of " + Temp() + ": No space left on device");
  EXPECT_FALSE(Exists(Proc->FOutputFile));
  EXPECT_FALSE(Exists(Temp()));
}

TEST_F(ConvertOutputScripted, NoOrEmptyOutputWithExitZeroIsAFailure) {
  Script({{"exit", "0"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc->LastErrorLine(), "ffmpeg wrote nothing into " + Proc->FOutputFile);
  EXPECT_FALSE(Exists(Proc->FOutputFile));

  ASSERT_TRUE(WaitReaders());
  Win.Reports.clear();
  Script({{"output", ""},
          {"err", "video:0kB audio:0kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: unknown\n"},
          {"err", "Output file is empty, nothing was encoded\n"},
          {"exit", "0"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csFailed);
  EXPECT_EQ(Proc->LastErrorLine(), "ffmpeg wrote nothing into " + Proc->FOutputFile);
  EXPECT_FALSE(Exists(Proc->FOutputFile));
  EXPECT_FALSE(Exists(Temp()));
}

TEST_F(ConvertOutputScripted, WriteErrorTextInAFileNameIsNoFailure) {
  Proc->FInputFile = Dir.File("No space left on device.flv");
  WriteFile(Proc->FInputFile, "FLV");
  Script({{"err", "Input #0, flv, from '" + Proc->FInputFile + "':\n"}, {"output", "converted"}, {"exit", "0"}});
  Run();
  ASSERT_TRUE(WaitEnd());
  EXPECT_EQ(Win.End()->Status, csProgress) << Proc->LastErrorLine();
  EXPECT_EQ(ReadFile(Proc->FOutputFile), "converted");
}

}  // namespace
