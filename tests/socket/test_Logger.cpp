// TQelLogger destinations, stamps, file options, and the socket's use of it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "SocketTestUtil.h"
#include "net/socket/QelLogger.h"

using namespace socktest;

namespace {

std::string TempLogPath(const char* tag) {
  return "/tmp/clipharbor-log-" + std::to_string(::getpid()) + "-" + tag + ".log";
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

TEST(QelLogger, EventAndCategoryFiltering) {
  TQelLogger log;
  std::vector<std::pair<TLogOption, std::string>> got;
  TObject sender;
  log.SetOnQelLogEvent([&](TObject* s, TLogOption o, const std::string& m) {
    EXPECT_EQ(s, &sender);
    got.emplace_back(o, m);
  });
  log.DoLog(&sender, loWsockInfo, "without destination");
  EXPECT_TRUE(got.empty());
  log.SetLogOptions({loDestEvent});
  log.DoLog(&sender, loWsockInfo, "plain");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].second, "plain");
  EXPECT_EQ(got[0].first, loWsockInfo);
  log.SetLogOptions({loDestEvent, loAddStamp});
  log.DoLog(&sender, loProtSpecDump, "stamped");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(std::regex_match(got[1].second, std::regex(R"(\d\d:\d\d:\d\d:\d\d\d stamped)"))) << got[1].second;
}

TEST(QelLogger, FileAppendOverwriteAndStamp) {
  const std::string path = TempLogPath("file");
  std::remove(path.c_str());
  {
    TQelLogger log;
    log.SetLogFileName(path);
    log.SetLogOptions({loDestFile});
    log.DoLog(nullptr, loWsockErr, "one");
    log.DoLog(nullptr, loWsockErr, "two");
  }
  EXPECT_EQ(Slurp(path), "one\r\ntwo\r\n");
  {
    TQelLogger log;  // append keeps earlier lines
    log.SetLogFileName(path);
    log.SetLogOptions({loDestFile, loAddStamp});
    log.DoLog(nullptr, loWsockErr, "three");
  }
  std::string text = Slurp(path);
  EXPECT_TRUE(std::regex_match(text, std::regex("one\r\ntwo\r\n\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d three\r\n"))) << text;
  {
    TQelLogger log;  // overwrite starts an empty file at each (re)opening
    log.SetLogFileOption(lfoOverwrite);
    log.SetLogFileName(path);
    log.SetLogOptions({loDestFile});
    log.DoLog(nullptr, loWsockErr, "fresh");
    log.DoLog(nullptr, loWsockErr, "second");
    EXPECT_EQ(Slurp(path), "fresh\r\nsecond\r\n");
    log.CloseLogFile();
    log.DoLog(nullptr, loWsockErr, "reopened");
    EXPECT_EQ(Slurp(path), "reopened\r\n");
  }
  std::remove(path.c_str());
}

TEST(QelLogger, NoFileNameAndDebuggerOutput) {
  TQelLogger log;
  log.SetLogOptions({loDestFile, loWsockInfo});
  try {
    log.DoLog(nullptr, loWsockInfo, "x");
    FAIL() << "no exception";
  } catch (const ELoggerException& e) {
    EXPECT_STREQ(e.what(), "File name empty");
  }
  // The debugger output is standard error here.
  TQelLogger dbg;
  dbg.SetLogOptions({loDestOutDebug});
  testing::internal::CaptureStderr();
  dbg.DoLog(nullptr, loWsockDump, "to the debugger");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "to the debugger\n");
}

TEST(QelLogger, SocketInfoLineWithoutFileNameRaises) {
  RawServer srv([](int fd) { RecvAll(fd, 1000); });
  TQelLogger log;
  log.SetLogOptions({loDestFile, loWsockInfo});
  TWSocket s;
  s.SetQelLogger(&log);
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  try {
    s.Connect();
    FAIL() << "no exception";
  } catch (const ELoggerException& e) {
    EXPECT_STREQ(e.what(), "File name empty");
  }
  s.Abort();
}

TEST(QelLogger, LinesFromThreadsStayWhole) {
  const std::string path = TempLogPath("threads");
  std::remove(path.c_str());
  {
    TQelLogger log;
    log.SetLogFileName(path);
    log.SetLogOptions({loDestFile, loDestEvent});
    int events = 0;
    log.SetOnQelLogEvent([&](TObject*, TLogOption, const std::string&) { ++events; });  // runs under the lock
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
      ts.emplace_back([&log, t] {
        for (int i = 0; i < 200; ++i) log.DoLog(nullptr, loWsockDump, "thread" + std::to_string(t) + std::string(50, 'x'));
      });
    for (auto& th : ts) th.join();
    EXPECT_EQ(events, 800);
  }
  std::istringstream in(Slurp(path));
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    EXPECT_TRUE(std::regex_match(line, std::regex("thread[0-3]x{50}\r"))) << line;
  }
  EXPECT_EQ(n, 800);
  std::remove(path.c_str());
}
