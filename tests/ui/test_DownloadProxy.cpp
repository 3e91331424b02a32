// The window keeps its fixed network settings but honours the proxy
// environment variables, so that a user behind a proxy can use it at all.
#include <QThread>

#include <gtest/gtest.h>

#include "http/ExternalPeers.h"
#include "ui/DownloadWindowFixture.h"
#include "ui/MainFixture.h"

using namespace e2e;

namespace {

using DownloadProxyTest = DownloadWindowTest;

TEST_F(DownloadProxyTest, EnvironmentProxyCarriesEveryRequestUnlessBypassed) {
  TService s({});
  ASSERT_TRUE(s.Running());
  httptest::Squid squid;
  ASSERT_TRUE(squid.Start("")) << squid.error;
  UseService(s);
  const std::string proxy = "http://127.0.0.1:" + std::to_string(squid.port);
  ScopedEnv unsetAll("all_proxy", nullptr), unsetAllUpper("ALL_PROXY", nullptr), unsetUpper("HTTP_PROXY", nullptr);
  {
    ScopedEnv http("http_proxy", proxy.c_str());
    ScopedEnv noProxy("no_proxy", nullptr), noProxyUpper("NO_PROXY", nullptr);
    Make(s.WatchUrl(), 0);
    EXPECT_EQ(RunModal(), mrCancel);
    EXPECT_TRUE(FDesktop.Boxes.empty());
    EXPECT_TRUE(ReadFile(FOut / "Sample Clip.flv") == s.Flv());
  }
  // squid writes its log line after the answer.
  std::string log;
  for (int i = 0; i < 100 && log.find("get_video.flv") == std::string::npos; ++i) {
    QThread::msleep(50);
    log = ReadFile(squid.AccessLog());
  }
  EXPECT_NE(log.find("GET http://" + s.Host() + "/watch?"), std::string::npos) << log;
  EXPECT_NE(log.find("GET http://" + s.Host() + "/get_video?"), std::string::npos) << log;
  EXPECT_NE(log.find("/get_video.flv"), std::string::npos) << log;
  const std::size_t logged = log.size();

  std::filesystem::remove(FOut / "Sample Clip.flv");
  {
    ScopedEnv http("http_proxy", proxy.c_str());
    ScopedEnv noProxy("no_proxy", "127.0.0.1"), noProxyUpper("NO_PROXY", nullptr);
    Make(s.WatchUrl(), 0);
    EXPECT_EQ(RunModal(), mrCancel);
    EXPECT_TRUE(ReadFile(FOut / "Sample Clip.flv") == s.Flv());
  }
  QThread::msleep(300);
  EXPECT_EQ(ReadFile(squid.AccessLog()).size(), logged) << "a bypassed host went through the proxy";
}

}  // namespace
