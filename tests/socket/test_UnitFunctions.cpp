// Name resolution, dotted-quad checks, error texts, host name, the send
// block, library accounting.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "net/socket/WSockBuf.h"
#include "net/socket/WSocket.h"
#include "platform/SocketNotify.h"

namespace {

std::string Dotted(std::uint32_t netAddr) { return plat::WsInetNtoa(netAddr); }

template <typename F>
std::string ThrownText(F f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace

TEST(WinsockErrorText, KnownAndUnknownCodes) {
  EXPECT_EQ(WinsockErrorText(0), "No Error");
  EXPECT_EQ(WinsockErrorText(10035), "Operation would block");
  EXPECT_EQ(WinsockErrorText(10047), "Address family not supported by protocol family");
  EXPECT_EQ(WinsockErrorText(10059), "Too many references: can't splice");
  EXPECT_EQ(WinsockErrorText(10061), "Connection refused");
  EXPECT_EQ(WinsockErrorText(10093), "WinSock not initialized");
  EXPECT_EQ(WinsockErrorText(11001), "Host not found");
  EXPECT_EQ(WinsockErrorText(11004), "No Data");
  // Gaps in the table and neighbours of it are not Winsock errors.
  EXPECT_EQ(WinsockErrorText(10072), "Not a WinSock error");
  EXPECT_EQ(WinsockErrorText(10090), "Not a WinSock error");
  EXPECT_EQ(WinsockErrorText(11005), "Not a WinSock error");
  EXPECT_EQ(WinsockErrorText(-1), "Not a WinSock error");
}

TEST(IsDottedQuad, AcceptsAndRefuses) {
  EXPECT_TRUE(IsDottedQuad("127.0.0.1"));
  EXPECT_TRUE(IsDottedQuad("  10.1.2.3  "));
  EXPECT_TRUE(IsDottedQuad("255.255.255.255"));
  EXPECT_FALSE(IsDottedQuad(".1.2.3"));
  EXPECT_FALSE(IsDottedQuad("1.2.3.4.5"));
  EXPECT_FALSE(IsDottedQuad("1.2.3."));
  EXPECT_FALSE(IsDottedQuad("1.2.3"));
  EXPECT_FALSE(IsDottedQuad("1..2.3"));
  EXPECT_FALSE(IsDottedQuad("256.1.1.1"));
  EXPECT_FALSE(IsDottedQuad("1.1.1.256"));
  EXPECT_FALSE(IsDottedQuad("1.2.3.4x"));
  EXPECT_FALSE(IsDottedQuad("1.2.3.4 x"));
  EXPECT_FALSE(IsDottedQuad("localhost"));
  EXPECT_FALSE(IsDottedQuad(""));
  // Very long digit runs must not overflow into a small value.
  EXPECT_FALSE(IsDottedQuad("4294967553.1.1.1"));
}

TEST(AtoiSkipSpaces, LeadingSpacesAndDigits) {
  EXPECT_EQ(AtoiSkipSpaces("   42abc"), 42);
  EXPECT_EQ(AtoiSkipSpaces("7"), 7);
  EXPECT_EQ(AtoiSkipSpaces("abc"), 0);
  EXPECT_EQ(AtoiSkipSpaces(""), 0);
  EXPECT_EQ(AtoiSkipSpaces("  -5"), 0);
}

TEST(WSocketResolveHost, DottedNamesAndErrors) {
  EXPECT_EQ(Dotted(WSocketResolveHost("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(Dotted(WSocketResolveHost("  127.0.0.2 ")), "127.0.0.2");
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(Dotted(WSocketResolveHost("localhost")), "127.0.0.1");
  EXPECT_EQ(ThrownText([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
  std::string longName(257, 'a');
  EXPECT_EQ(ThrownText([&] { WSocketResolveHost(longName); }),
            "WSocketResolveHost: '" + longName + "' Invalid Hostname.");
  // A part above 255 is not a dotted quad, so it goes to the name service.
  std::string t = ThrownText([] { WSocketResolveHost("300.1.1.1"); });
  EXPECT_EQ(t.rfind("WSocketResolveHost: Cannot convert host address '300.1.1.1', Error #", 0), 0u) << t;
  std::string u = ThrownText([] { WSocketResolveHost("no-such-host.invalid"); });
  EXPECT_EQ(u.rfind("WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #110", 0), 0u)
      << u;
}

TEST(WSocketResolvePort, NumbersServicesAndLimits) {
  EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("8080abc", "tcp"), 8080);
  EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort(" http ", " tcp "), 80);
  EXPECT_EQ(ThrownText([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ThrownText([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(WSocketResolvePort(std::string(31, '0') , "tcp"), 0);
  EXPECT_EQ(WSocketResolvePort("65535", "tcp"), 65535);
  // Beyond 65535 a number does not wrap into another port (83616 would be 18080).
  for (const char* big : {"65536", "83616", "4294967376", "99999999999999999999"})
    EXPECT_EQ(ThrownText([&] { WSocketResolvePort(big, "tcp"); }), "WSocketResolvePort: Invalid Port.") << big;
  EXPECT_EQ(ThrownText([] { WSocketResolvePort("80", ""); }), "WSocketResolvePort: Invalid Proto.");
  std::string t = ThrownText([] { WSocketResolvePort("nosuchservice", "tcp"); });
  EXPECT_EQ(t.rfind("WSocketResolvePort: Cannot convert port 'nosuchservice', Error #", 0), 0u) << t;
}

TEST(WSocketResolveProto, NamesNumbersAndErrors) {
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto("UDP"), 17);
  EXPECT_EQ(WSocketResolveProto(" Raw "), 255);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  EXPECT_EQ(WSocketResolveProto("icmp"), 1);
  EXPECT_EQ(ThrownText([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(ThrownText([] { WSocketResolveProto(std::string(32, 'x')); }), "WSocketResolveProto: Invalid Protocol.");
  std::string t = ThrownText([] { WSocketResolveProto("nosuchproto"); });
  EXPECT_EQ(t.rfind("WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #", 0), 0u) << t;
}

TEST(GetLocalHostName, MatchesSystem) {
  char buf[256] = {};
  ASSERT_EQ(::gethostname(buf, sizeof buf - 1), 0);
  EXPECT_EQ(GetLocalHostName(), std::string(buf).substr(0, 63));
}

TEST(WSocketLibrary, LiveCountLoadsAndUnloads) {
  ASSERT_EQ(WSocketLiveCount(), 0);
  {
    auto s = std::make_unique<TWSocket>();
    EXPECT_EQ(WSocketLiveCount(), 1);
    EXPECT_FALSE(WSocketIsLoaded());  // constructing alone loads nothing
    s->DnsLookup("127.0.0.1");
    EXPECT_TRUE(WSocketIsLoaded());
    // The version can be set to its current value, but not changed, once loaded.
    s->SetReqVerLow(1);
    EXPECT_THROW(s->SetReqVerLow(2), ESocketException);
    EXPECT_EQ(s->GetReqVerLow(), 1);
  }
  EXPECT_EQ(WSocketLiveCount(), 0);
  EXPECT_FALSE(WSocketIsLoaded());
  {
    TWSocket s;
    s.SetReqVerHigh(2);  // not loaded: accepted
    EXPECT_EQ(s.GetReqVerHigh(), 2);
    s.SetReqVerHigh(1);
    s.DnsLookup("127.0.0.1");
    EXPECT_TRUE(WSocketIsLoaded());
  }
  EXPECT_FALSE(WSocketIsLoaded());
}

TEST(TBuffer, WritePeekRemoveAndReuse) {
  TBuffer b(10);
  EXPECT_EQ(b.BufSize(), 10);
  EXPECT_EQ(b.Write("abcdefgh", 8), 8);
  EXPECT_EQ(b.Write("XYZ", 3), 2);  // only the free space is taken
  EXPECT_EQ(b.Write("Q", 1), 0);
  int len = 0;
  const char* p = b.Peek(len);
  ASSERT_EQ(len, 10);
  EXPECT_EQ(std::string(p, 10), "abcdefghXY");
  EXPECT_EQ(b.Remove(4), 4);
  p = b.Peek(len);
  EXPECT_EQ(std::string(p, static_cast<std::size_t>(len)), "efghXY");
  EXPECT_EQ(b.Remove(100), 6);  // bounded by the unread count
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.WrCount(), 0);  // emptied block restarts at the front
  EXPECT_EQ(b.RdCount(), 0);
  EXPECT_EQ(b.Write("0123456789", 10), 10);
}

TEST(TBuffer, SetBufSizeKeepsUnreadBytes) {
  TBuffer d(0);
  EXPECT_EQ(d.BufSize(), 1514);
  TBuffer b(8);
  b.Write("abcdef", 6);
  b.Remove(2);
  b.SetBufSize(16);
  int len = 0;
  const char* p = b.Peek(len);
  EXPECT_EQ(std::string(p, static_cast<std::size_t>(len)), "cdef");
  EXPECT_EQ(b.Write("0123456789", 10), 10);
  // Shrinking below the written bytes keeps what fits instead of overrunning.
  b.SetBufSize(4);
  EXPECT_EQ(b.BufSize(), 4);
  EXPECT_LE(b.WrCount(), 4);
  p = b.Peek(len);
  EXPECT_EQ(std::string(p, static_cast<std::size_t>(len)), "cd");
}
