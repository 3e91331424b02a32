// The converted file appears under its final name only when the conversion
// succeeded: it is written under "name.part.ext" and renamed at the end; a
// failure or Stop removes it and leaves an existing file of that name as it was.
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


}  // namespace
