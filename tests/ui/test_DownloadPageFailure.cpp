// A watch page that cannot be had: an error status with or without a page,
// or no connection at all. The retrieval ends as soon as the load failed,
// without polling or further attempts, and says why under its usual line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ui/DownloadWindowFixture.h"

using namespace e2e;

namespace {

// A loopback port that refuses connections for as long as it lives: bound,
// never listening.
class TRefusingPort {
 public:
  TRefusingPort() {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      Port = ntohs(a.sin_port);
  }
  ~TRefusingPort() {
    if (FFd >= 0) ::close(FFd);
  }
  TRefusingPort(const TRefusingPort&) = delete;
  TRefusingPort& operator=(const TRefusingPort&) = delete;
  int Port = 0;

 private:
  int FFd = -1;
};

class DownloadPageFailureTest : public DownloadWindowTest {
 protected:
  // Runs a job on `url` with the retrieval's own minute of polling (the
  // modal run's limit, well below it, fails a retrieval that waits) and
  // returns the reason under "Unable get html from <url>".
  std::string Reason(const std::string& url) {
    FDesktop.ExpectBox(plat::IDOK);
    TfrmDownload& f = Make(url, 1);
    EXPECT_EQ(f.Job().FPollLimitMs, 60000u);
    EXPECT_EQ(RunModal(nullptr, 30000), mrStop);
    EXPECT_TRUE(f.eDownloadUrl->text().isEmpty());
    EXPECT_FALSE(f.Panel2->isVisible());
    if (FDesktop.Boxes.size() != 1) {
      ADD_FAILURE() << FDesktop.Boxes.size() << " boxes";
      return std::string();
    }
    const plat::ScriptedDesktop::Box box = FDesktop.Boxes[0];
    FDesktop.Boxes.clear();
    EXPECT_EQ(box.Flags, plat::MB_OK | plat::MB_ICONERROR);
    EXPECT_EQ(box.Caption, "Clipharbor");
    const std::string head = "Unable get html from " + url + "\r\n";
    EXPECT_EQ(box.Text.rfind(head, 0), 0u) << box.Text;
    return box.Text.rfind(head, 0) == 0 ? box.Text.substr(head.size()) : box.Text;
  }
};

}  // namespace

TEST_F(DownloadPageFailureTest, ErrorStatusEndsAtOnceWithStatusAndReason) {
  for (const auto& [switches, reason] :
       {std::pair{std::vector<std::string>{"--watch-status", "502"}, "502 Bad Gateway"},
        std::pair{std::vector<std::string>{"--watch-status", "404", "--watch-empty"}, "404 Not Found"}}) {
    TService s(switches);
    ASSERT_TRUE(s.Running());
    UseService(s);
    EXPECT_EQ(Reason(s.WatchUrl()), reason);
    // One load: no further attempt at a page that failed.
    const std::string log = s.Requests();
    EXPECT_EQ(log.find("/watch?v="), log.rfind("/watch?v=")) << log;
  }
}

TEST_F(DownloadPageFailureTest, RefusedConnectionSaysTheSystemsText) {
  TRefusingPort refusing;
  ASSERT_GT(refusing.Port, 0);
  const std::string host = "127.0.0.1:" + std::to_string(refusing.Port);
  FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_SERVICE", host.c_str()));
  EXPECT_EQ(Reason("http://" + host + "/watch?v=Xk3mP9qA_7w"), "Connection refused (Error #10061)");
}
