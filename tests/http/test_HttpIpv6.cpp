// The HTTP client with IPv6: bracketed hosts in the address, the Host field,
// Locations and proxy addresses; the family limit; and the route chosen
// again for every host a request is relocated to.
#include <gtest/gtest.h>

#include "HttpPeer.h"
#include "net/common/UrlParse.h"

using namespace httptest;

namespace {

bool HasLine(const std::string& head, const std::string& line) {
  return head.find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace

TEST(UrlParseIpv6, BracketedHostsLoseTheirBracketsAndKeepThePort) {
  std::string proto, user, pass, host, port, path;
  ParseURL("http://[::1]:8080/x", proto, user, pass, host, port, path);
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, "8080");
  EXPECT_EQ(path, "/x");
  ParseURL("http://u:p@[2001:db8::1]/y?q=[1]", proto, user, pass, host, port, path);
  EXPECT_EQ(user, "u");
  EXPECT_EQ(pass, "p");
  EXPECT_EQ(host, "2001:db8::1");
  EXPECT_EQ(port, "");
  EXPECT_EQ(path, "/y?q=[1]");
  ParseURL("[::1]", proto, user, pass, host, port, path);
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(UrlHost("::1"), "[::1]");
  EXPECT_EQ(UrlHost("example.com"), "example.com");
}

TEST(HttpIpv6, LiteralAddressHostFieldAndLocation) {
  ScriptedServer* srv = nullptr;
  ScriptedServer server(Answer(srv, kOk), true);
  srv = &server;
  THttpCli c;
  c.URL = "http://[::1]:" + server.PortText() + "/file";
  c.Get();
  EXPECT_EQ(c.StatusCode(), 200);
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string head = server.Requests()[0];
  EXPECT_EQ(FirstLine(head), "GET /file HTTP/1.0");
  EXPECT_TRUE(HasLine(head, "Host: [::1]:" + server.PortText())) << head;
}

TEST(HttpIpv6, RelocationToAnIpv6Host) {
  ScriptedServer* v6 = nullptr;
  ScriptedServer to(Answer(v6, kOk), true);
  v6 = &to;
  ScriptedServer* v4 = nullptr;
  ScriptedServer from(Answer(v4, "HTTP/1.0 302 Found\r\nLocation: http://[::1]:" + to.PortText() + "/y\r\n\r\n"));
  v4 = &from;
  THttpCli c;
  c.URL = "http://127.0.0.1:" + from.PortText() + "/x";
  c.Get();
  EXPECT_EQ(c.StatusCode(), 200);
  EXPECT_EQ(c.Location(), "http://[::1]:" + to.PortText() + "/y");
  ASSERT_EQ(to.Requests().size(), 1u);
  EXPECT_TRUE(HasLine(to.Requests()[0], "Host: [::1]:" + to.PortText())) << to.Requests()[0];
}

TEST(HttpIpv6, ProxyOnIpv6AndIpv6TargetThroughAProxy) {
  ScriptedServer* p = nullptr;
  ScriptedServer proxy(Answer(p, kOk), true);
  p = &proxy;
  THttpCli c;
  c.Proxy = "[::1]";
  c.ProxyPort = proxy.PortText();
  c.URL = "http://[2001:db8::5]:81/v";
  c.Get();
  EXPECT_EQ(c.StatusCode(), 200);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  const std::string head = proxy.Requests()[0];
  EXPECT_EQ(FirstLine(head), "GET http://[2001:db8::5]:81/v HTTP/1.0");
  EXPECT_TRUE(HasLine(head, "Host: [2001:db8::5]:81")) << head;
}

TEST(HttpIpv6, FamilyLimitAndZonesFailWithClearTexts) {
  THttpCli c;
  c.AddrFamily = plat::WS_AF_INET;
  c.URL = "http://[::1]:1/x";
  EXPECT_THROW(c.Get(), EHttpException);
  EXPECT_EQ(c.ReasonPhrase(), "can't resolve hostname to IPv4 address");
  c.AddrFamily = plat::WS_AF_INET6;
  c.URL = "http://127.0.0.1:1/x";
  EXPECT_THROW(c.Get(), EHttpException);
  EXPECT_EQ(c.ReasonPhrase(), "can't resolve hostname to IPv6 address");
  c.AddrFamily = plat::WS_AF_UNSPEC;
  c.URL = "http://[fe80::1%25eth0]/x";
  EXPECT_THROW(c.Get(), EHttpException);
  EXPECT_EQ(c.ReasonPhrase(),
            "Refused address: link-local IPv6 addresses with a zone (fe80::1%25eth0) are not supported");
}

// A route chooser like the jobs' (a no-proxy list naming "localhost"):
// each hop of a relocation takes the route of its own host.
TEST(HttpRoute, EveryHopTakesTheRouteOfItsHost) {
  ScriptedServer* o = nullptr;
  ScriptedServer origin(Answer(o, kOk));
  o = &origin;
  ScriptedServer* p = nullptr;
  ScriptedServer proxy(
      Answer(p, "HTTP/1.0 302 Found\r\nLocation: http://localhost:" + origin.PortText() + "/direct\r\n\r\n"));
  p = &proxy;
  THttpCli c;
  std::vector<std::string> routed;
  c.OnChooseRoute = [&](THttpCli* cli, const std::string& url) {
    std::string proto, user, pass, host, port, path;
    ParseURL(url, proto, user, pass, host, port, path);
    routed.push_back(host);
    cli->Proxy = host == "localhost" ? "" : "127.0.0.1";
    cli->ProxyPort = proxy.PortText();
  };
  c.URL = "http://127.0.0.1:" + origin.PortText() + "/start";
  c.Get();
  EXPECT_EQ(c.StatusCode(), 200);
  EXPECT_EQ(routed, (std::vector<std::string>{"127.0.0.1", "localhost"}));
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(FirstLine(proxy.Requests()[0]), "GET http://127.0.0.1:" + origin.PortText() + "/start HTTP/1.0");
  ASSERT_EQ(origin.Requests().size(), 1u);
  EXPECT_EQ(FirstLine(origin.Requests()[0]), "GET /direct HTTP/1.0");

  // And back: from a direct host to one that goes through the proxy.
  ScriptedServer* d = nullptr;
  ScriptedServer direct(
      Answer(d, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + origin.PortText() + "/via\r\n\r\n"));
  d = &direct;
  routed.clear();
  c.URL = "http://localhost:" + direct.PortText() + "/first";
  c.Get();
  // The proxy sends this hop on to the direct host once more.
  EXPECT_EQ(routed, (std::vector<std::string>{"localhost", "127.0.0.1", "localhost"}));
  EXPECT_EQ(origin.Requests().size(), 2u);
  ASSERT_EQ(direct.Requests().size(), 1u);
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_EQ(FirstLine(proxy.Requests()[1]), "GET http://127.0.0.1:" + origin.PortText() + "/via HTTP/1.0");
}
