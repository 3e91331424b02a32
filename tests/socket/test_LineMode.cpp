// Line mode (delivery, split terminators, partial reads, switching modes,
// the line limit, editing and echo) and the flag wait.
#include <gtest/gtest.h>

#include "SocketTestUtil.h"

using namespace socktest;

namespace {

struct LineClient {
  Recorder r;
  TWSocket s;
  std::vector<std::string> lines;
  std::vector<int> counts;  // RcvdCount at each offer

  void Connect(const RawServer& srv) {
    r.Attach(s);
    s.SetLineMode(true);
    s.SetAddr("127.0.0.1");
    s.SetPort(srv.PortStr());
    s.Connect();
  }
  // Default handler: read whatever is offered in one go.
  void ReadWhole() {
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      counts.push_back(s.GetRcvdCount());
      char b[512];
      int n = s.Receive(b, sizeof b);
      if (n > 0) lines.emplace_back(b, static_cast<std::size_t>(n));
    };
  }
  bool WaitClosed(int ms = 5000) {
    return PumpUntil([&] { return r.Has("SessionClosed 0"); }, ms);
  }
};

}  // namespace

TEST(LineMode, OneLineOfSevenBytesAndTheRestWaits) {
  RawServer srv([](int fd) {
    SendAll(fd, "abc\r\nde");
    SleepMs(150);
    SendAll(fd, "f\r\n");
    SleepMs(150);
  });
  LineClient c;
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(PumpUntil([&] { return !c.lines.empty(); }));
  PumpFor(50);
  ASSERT_EQ(c.lines.size(), 1u);
  EXPECT_EQ(c.lines[0], "abc\r\n");
  EXPECT_EQ(c.counts[0], 5);
  EXPECT_EQ(c.s.LineBufferCount(), 2);  // "de" waits for its terminator
  ASSERT_TRUE(c.WaitClosed());
  ASSERT_EQ(c.lines.size(), 2u);
  EXPECT_EQ(c.lines[1], "def\r\n");
}

TEST(LineMode, TerminatorSplitAcrossReads) {
  RawServer srv([](int fd) {
    SendAll(fd, "abc\r");
    SleepMs(150);
    SendAll(fd, "\nxyz\r\n");
    SleepMs(150);
  });
  LineClient c;
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.lines, (std::vector<std::string>{"abc\r\n", "xyz\r\n"}));
}

TEST(LineMode, MultiByteCustomTerminatorSplitAndLongLineEnd) {
  RawServer srv([](int fd) {
    SendAll(fd, "one<E");
    SleepMs(100);
    SendAll(fd, "ND>two<");
    SleepMs(100);
    SendAll(fd, "END>");
    SleepMs(100);
  });
  LineClient c;
  c.s.SetLineEnd("<END>");
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.lines, (std::vector<std::string>{"one<END>", "two<END>"}));
}

TEST(LineMode, LineReadInTwoPartsThenNextLine) {
  RawServer srv([](int fd) {
    SendAll(fd, "12345678\r\nnext\r\n");
    SleepMs(150);
  });
  LineClient c;
  std::vector<std::string> parts;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char b[64];
    int want = parts.empty() ? 4 : 64;
    int n = c.s.Receive(b, want);
    if (n > 0) parts.emplace_back(b, static_cast<std::size_t>(n));
  };
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(parts, (std::vector<std::string>{"1234", "5678\r\n", "next\r\n"}));
}

TEST(LineMode, SwitchingOffMidLineGivesRestAndFollowingBytesAsPlainData) {
  RawServer srv([](int fd) {
    SendAll(fd, "head-of-line\r\nplain bytes");
    SleepMs(150);
  });
  LineClient c;
  std::vector<std::string> got;
  std::vector<bool> modes;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char b[64];
    if (got.empty()) {
      int n = c.s.Receive(b, 4);
      got.emplace_back(b, static_cast<std::size_t>(n));
      c.s.SetLineMode(false);
      return;
    }
    modes.push_back(c.s.GetLineMode());
    int n = c.s.Receive(b, sizeof b);
    if (n > 0) got.emplace_back(b, static_cast<std::size_t>(n));
  };
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[0], "head");
  EXPECT_EQ(got[1], "-of-line\r\nplain bytes");
  EXPECT_FALSE(modes[0]);
}

TEST(LineMode, SwitchingOnReoffersBufferedBytesAsLines) {
  RawServer srv([](int fd) {
    SendAll(fd, "first\r\nsecond\r\nthi");
    SleepMs(300);
    SendAll(fd, "rd\r\n");
    SleepMs(150);
  });
  LineClient c;
  std::vector<std::string> got;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char b[64];
    int n = c.s.Receive(b, sizeof b);
    if (n > 0) got.emplace_back(b, static_cast<std::size_t>(n));
    // After the first line: plain mode, and nobody listens for a moment.
    c.s.SetLineMode(false);
    c.s.OnDataAvailable = nullptr;
  };
  c.Connect(srv);
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
  PumpFor(50);
  EXPECT_EQ(c.s.LineBufferCount(), 11);  // "second\r\nthi" held as plain bytes
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char b[64];
    int n = c.s.Receive(b, sizeof b);
    if (n > 0) got.emplace_back(b, static_cast<std::size_t>(n));
  };
  c.s.SetLineMode(true);  // posts the re-offer
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(got, (std::vector<std::string>{"first\r\n", "second\r\n", "third\r\n"}));
}

TEST(LineMode, LineLimitClearsOrKeeps) {
  for (bool keep : {false, true}) {
    RawServer srv([](int fd) {
      SendAll(fd, "12345678901");  // eleven bytes, no terminator
      SleepMs(150);
      SendAll(fd, "\r\n");
      SleepMs(150);
    });
    LineClient c;
    c.s.SetLineLimit(10);
    std::vector<std::pair<int, bool>> limits;
    c.s.OnLineLimitExceeded = [&](TObject*, std::int32_t n, bool& clear) {
      limits.emplace_back(n, clear);
      if (keep) clear = false;
    };
    c.ReadWhole();
    c.Connect(srv);
    ASSERT_TRUE(PumpUntil([&] { return !limits.empty(); }));
    EXPECT_EQ(limits[0], std::make_pair(11, true));
    EXPECT_EQ(c.s.LineBufferCount(), keep ? 11 : 0);
    ASSERT_TRUE(c.WaitClosed());
    if (keep)
      EXPECT_EQ(c.lines, (std::vector<std::string>{"12345678901\r\n"}));
    else
      EXPECT_EQ(c.lines, (std::vector<std::string>{"\r\n"}));
  }
}

TEST(LineMode, LineLimitWithoutHandlerBoundsTheBuffer) {
  RawServer srv([](int fd) {
    std::string junk(4096, 'j');
    for (int i = 0; i < 64; ++i) SendAll(fd, junk);  // 256 KiB, never a line end
    SleepMs(200);
  });
  LineClient c;
  c.s.SetLineLimit(1000);
  int maxHeld = 0;
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(PumpUntil([&] {
    maxHeld = std::max(maxHeld, c.s.LineBufferCount());
    return c.r.Has("SessionClosed 0");
  }));
  EXPECT_TRUE(c.lines.empty());
  EXPECT_LE(maxHeld, 1000);  // cleared each time the limit is passed
  EXPECT_EQ(c.s.LineBufferCapacity(), 0);  // freed at close
}

TEST(LineMode, UnterminatedLastLineDeliveredBeforeClose) {
  RawServer srv([](int fd) {
    SendAll(fd, "line\r\nlast words");
    SleepMs(100);
  });
  LineClient c;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char b[64];
    int n = c.s.Receive(b, sizeof b);
    if (n > 0) c.r.ev.push_back("Line " + std::string(b, static_cast<std::size_t>(n)));
  };
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  std::vector<std::string> tail(c.r.ev.end() - 4, c.r.ev.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Line line\r\n", "Line last words", "SessionClosed 0",
                                            "ChangeState wsConnected->wsClosed"}))
      << c.r.Dump();
}

TEST(LineMode, EditingWithBackspaceTabAndEcho) {
  std::string echoed;
  RawServer srv([&](int fd) {
    SendAll(fd, "ab\bc\r\n");
    SleepMs(100);
    SendAll(fd, "x\ty\r\n");
    echoed = RecvN(fd, 6 + 2 + 11, 2000);
    SleepMs(100);
  });
  LineClient c;
  c.s.SetLineEdit(true);
  c.s.SetLineEcho(true);
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.lines, (std::vector<std::string>{"ac\r\n", "x       y\r\n"}));
  // Echo: bytes as typed, the backspace as backspace-space-backspace, the
  // tab as the spaces it became.
  EXPECT_EQ(echoed, std::string("ab\b \bc\r\nx       y\r\n"));
}

TEST(LineMode, BackspaceErasesEarlierReadsButNotBeyondStart) {
  RawServer srv([](int fd) {
    SendAll(fd, "abc");
    SleepMs(100);
    SendAll(fd, "\b\b\b\b\bz\r\n");
    SleepMs(100);
  });
  LineClient c;
  c.s.SetLineEdit(true);
  c.ReadWhole();
  c.Connect(srv);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.lines, (std::vector<std::string>{"z\r\n"}));
}

TEST(LineMode, SendLineAndPlainPassThrough) {
  std::string peer;
  RawServer srv([&](int fd) {
    peer = RecvN(fd, 7, 2000);
    SendAll(fd, "raw bytes, no line end");
    SleepMs(150);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  std::string got;
  s.OnSessionConnected = [&](TObject*, std::uint16_t) { EXPECT_EQ(s.SendLine("hello"), 7); };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) { got += s.ReceiveText(); };
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return r.Has("SessionClosed 0"); }));
  EXPECT_EQ(peer, "hello\r\n");
  EXPECT_EQ(got, "raw bytes, no line end");  // line mode off: plain data
  EXPECT_EQ(s.SendLine(""), 0);
}

TEST(SyncWait, WaitForFlagTimeoutSetAndQuit) {
  RawServer srv([](int fd) {
    SleepMs(150);
    SendAll(fd, "go");
    RecvAll(fd, 2000);
  });
  Recorder r;
  TWSocket s;
  r.Attach(s);
  bool dataSeen = false;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    s.ReceiveText();
    dataSeen = true;
  };
  bool connected = false;
  s.SetAddr("127.0.0.1");
  s.SetPort(srv.PortStr());
  // RunAndWait clears the flag, runs the procedure, waits.
  s.OnSessionConnected = [&](TObject*, std::uint16_t) { connected = true; };
  connected = true;
  EXPECT_EQ(s.RunAndWait([&] { s.Connect(); }, connected), 0);
  EXPECT_EQ(s.GetState(), wsConnected);

  s.SetTimeout(100);
  bool never = false;
  auto t0 = plat::GetTickCount();
  EXPECT_EQ(s.WaitForFlag(never), 12001);
  EXPECT_GE(plat::GetTickCount() - t0, 90u);

  s.SetTimeout(0);  // no limit: until the event sets the flag
  EXPECT_EQ(s.WaitForFlag(dataSeen), 0);
  EXPECT_TRUE(dataSeen);

  s.SetMultiThreaded(true);
  plat::PostQuitMessage();
  EXPECT_EQ(s.WaitForFlag(never), 12001);
  EXPECT_TRUE(s.Terminated());
  s.Close();
}

TEST(LineMode, EchoThatClosesTheConnectionLeavesNoDanglingBuffer) {
  for (bool edit : {false, true}) {
    RawServer srv([](int fd) {
      SendAll(fd, "ab\bc\r\nmore\r\n");
      RecvAll(fd, 1000);
    });
    LineClient c;
    c.s.SetLineEcho(true);
    c.s.SetLineEdit(edit);
    int sends = 0;
    // The first echoed byte closes the connection from inside the echo.
    c.s.OnSendData = [&](TObject*, std::int32_t) {
      if (++sends == 1) c.s.Close();
    };
    c.ReadWhole();
    c.Connect(srv);
    ASSERT_TRUE(c.WaitClosed()) << c.r.Dump();
    PumpFor(50);
    EXPECT_EQ(c.r.Count("SessionClosed 0"), 1);
    EXPECT_TRUE(c.lines.empty());
    EXPECT_EQ(c.s.LineBufferCapacity(), 0);
  }
}
