// The control file beside a ".part": what a later run reads back, what it
// refuses, and that a link planted at its name is never written through.
#include "app/core/PartControl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/E2eSupport.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(PartControl, KeptIdentityReadsBackAndUnknownOrBrokenFilesAreTold) {
  e2e::TTempDir dir;
  const std::string path = ControlPath(dir / "clip.flv.part");
  EXPECT_EQ(path, dir / "clip.flv.part.ctl");
  EXPECT_FALSE(LoadPartControl(path));

  const TPartIdentity id{"http://h/get_video?v=1&t=2", 300000, "\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"};
  std::string error;
  ASSERT_TRUE(SavePartControl(path, id, error)) << error;
  EXPECT_EQ(LoadPartControl(path), id);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);  // no temporary left

  // Lines a later version adds are skipped; a file that is not ours is not read.
  std::ofstream(path, std::ios::app) << "done 0-1023\n";
  EXPECT_EQ(LoadPartControl(path), id);
  std::ofstream(path) << "url http://h/x\n";
  EXPECT_FALSE(LoadPartControl(path));
  std::ofstream(path) << "clipharbor-part 1\ntotal 12x\n";
  EXPECT_FALSE(LoadPartControl(path));

  // A value with a line break would forge lines: it is not kept.
  ASSERT_TRUE(SavePartControl(path, {"http://h/x", -1, "\"a\"\ntotal 1", ""}, error));
  EXPECT_EQ(LoadPartControl(path), (TPartIdentity{"http://h/x", -1, "", ""}));

  RemovePartControl(path);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(PartControl, LinksAtTheControlNamesAreReplacedNeverFollowed) {
  e2e::TTempDir dir;
  const std::string victim = dir / "victim.txt";
  std::ofstream(victim) << "keep me";
  const std::string path = dir / "clip.flv.part.ctl";
  std::error_code ec;
  std::filesystem::create_symlink(victim, path, ec);
  ASSERT_FALSE(ec);
  EXPECT_FALSE(LoadPartControl(path));  // not read through the link either
  std::string error;
  ASSERT_TRUE(SavePartControl(path, {"http://h/x", 5, "", ""}, error)) << error;
  EXPECT_EQ(Read(victim), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_EQ(LoadPartControl(path), (TPartIdentity{"http://h/x", 5, "", ""}));
}

TEST(PartControl, AnswerIdentityAndWhatDiffers) {
  const std::vector<std::string> full = {"Content-Length: 300000", "ETag: \"x\"",
                                         "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"};
  EXPECT_EQ(AnswerIdentity("u", 200, full), (TPartIdentity{"u", 300000, "\"x\"", "Tue, 01 Dec 2026 10:00:00 GMT"}));
  EXPECT_EQ(AnswerIdentity("u", 200, {"Content-Length: 5", "Transfer-Encoding: chunked"}).Total, -1);
  EXPECT_EQ(AnswerIdentity("u", 206, {"Content-Length: 1000", "Content-Range: bytes 150000-150999/300000"}).Total,
            300000);
  EXPECT_EQ(AnswerIdentity("u", 206, {"Content-Range: bytes 0-9/*"}).Total, -1);

  const TPartIdentity kept{"u", 300000, "\"x\"", "D1"};
  EXPECT_EQ(kept.IfRange(), "\"x\"");
  EXPECT_EQ((TPartIdentity{"u", 1, "W/\"x\"", "D1"}.IfRange()), "D1");
  EXPECT_EQ((TPartIdentity{"u", 1, "W/\"x\"", ""}.IfRange()), "");
  // Only what both name is compared.
  EXPECT_EQ(kept.Differs({"u", -1, "", ""}), "");
  EXPECT_EQ(kept.Differs({"u", 300000, "\"x\"", "D1"}), "");
  EXPECT_EQ(kept.Differs({"u", 299999, "\"x\"", "D1"}), "its size changed from 300000 to 299999 bytes");
  EXPECT_EQ(kept.Differs({"u", 300000, "\"y\"", "D1"}), "its ETag changed from \"x\" to \"y\"");
  EXPECT_EQ(kept.Differs({"u", 300000, "", "D2"}), "its date changed from D1 to D2");
}

TEST(PartControl, DoneRangesOfASegmentedPartReadBackAndBrokenLinesClaimNothing) {
  e2e::TTempDir dir;
  const std::string path = ControlPath(dir / "clip.flv.part");
  const TPartIdentity id{"http://h/clip.flv", 5000000, "\"abc\"", ""};
  std::string error;
  ASSERT_TRUE(SavePartControl(path, id, error)) << error;
  EXPECT_FALSE(LoadDoneRanges(path));  // one stream: its size is what it holds
  const std::vector<std::pair<std::int64_t, std::int64_t>> done{{0, 1048575}, {2097152, 2200000}};
  ASSERT_TRUE(SavePartControl(path, id, done, error)) << error;
  EXPECT_EQ(LoadPartControl(path), id);
  EXPECT_EQ(LoadDoneRanges(path), done);
  ASSERT_TRUE(SavePartControl(path, id, {}, error)) << error;
  EXPECT_EQ(LoadDoneRanges(path), (std::vector<std::pair<std::int64_t, std::int64_t>>{}));  // segmented, none done
  std::ofstream(path, std::ios::app) << "done 10-5\ndone x-9\ndone 100-199\ndone 1-99999999999999999999\n";
  EXPECT_EQ(LoadDoneRanges(path), (std::vector<std::pair<std::int64_t, std::int64_t>>{{100, 199}}));
}
