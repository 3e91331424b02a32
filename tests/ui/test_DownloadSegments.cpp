// The window's download goes through the engine of several connections: a
// file of a few MiB paced per connection (slow enough for its probe to
// split it) arrives byte-identical over ranged requests, and the speed
// line says how many connections are open.
#include <QApplication>

#include <gtest/gtest.h>

#include "ui/DownloadWindowFixture.h"

using namespace e2e;

TEST_F(DownloadWindowTest, ALargeFileArrivesByteIdenticalOverSeveralConnections) {
  std::string data(3 * 1024 * 1024 + 12345, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
  WriteFile(FDir / "large.flv", data);
  TService s({"--flv", FDir / "large.flv", "--pace", "1048576"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  TfrmDownload& f = Make(s.WatchUrl(), 0);
  bool sawConnections = false;
  EXPECT_EQ(RunModal([&] {
              sawConnections = sawConnections || Text(f.lReceiveSpeed).find(" connections") != std::string::npos;
            }),
            mrCancel);
  EXPECT_TRUE(FDesktop.Boxes.empty());
  EXPECT_TRUE(ReadFile(FOut / "Sample Clip.flv") == data);
  EXPECT_FALSE(Exists(FOut / "Sample Clip.flv.part.ctl"));
  EXPECT_TRUE(f.Job().Succeeded());
  EXPECT_TRUE(sawConnections);
  const std::string requests = s.Requests();
  // Ranged requests with an end: the file was split.
  EXPECT_NE(requests.find("\"range\": \"bytes="), std::string::npos) << requests.substr(0, 2000);
}
