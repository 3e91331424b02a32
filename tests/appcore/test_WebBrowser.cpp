// The embedded browser stand-in against the stand-in video service, and its
// cookie jar and address rules on their own.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/core/WebBrowser.h"
#include "appcore/VideoServiceProcess.h"
#include "http/HttpPeer.h"
#include "test_ConvertSupport.h"

using namespace convtest;

namespace {

const char kTitleMarker[] = "meta name=\"title\" content=\"";
const char kTokenMarker[] = "\"t\": \"OEgs";

bool WaitReady(TWebBrowser& b, unsigned ms = 15000) {
  return PumpUntil([&] { return b.ReadyState() >= READYSTATE_INTERACTIVE; }, ms);
}

// The page text as the download window reads it: saved into a stream.
std::string Saved(TWebBrowser& b) {
  TWebDocument* doc = b.Document();
  if (!doc) return std::string();
  IPersistStreamInit* persist = doc->QueryPersistStreamInit();
  if (!persist) return std::string();
  plat::TMemoryStream stream;
  persist->Save(stream, false);
  return stream.DataString();
}

std::string Load(TWebBrowser& b, const std::string& url) {
  b.Navigate(url);
  EXPECT_TRUE(WaitReady(b)) << url;
  return Saved(b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string TokenIn(const std::string& page) {
  std::size_t at = page.find(kTokenMarker);
  if (at == std::string::npos) return std::string();
  std::size_t end = page.find('"', at + 6);
  return end == std::string::npos ? std::string() : page.substr(at + 6, end - at - 6);
}

class WebBrowserService : public ::testing::Test {
 protected:
  void SetUp() override { TCookieJar::Instance().Clear(); }
  void TearDown() override { TCookieJar::Instance().Clear(); }
  // Requests the service saw, newest last.
  static QJsonArray Requests(TVideoServiceProcess& s) {
    std::string json = Capture("curl -s '" + s.Url("/__requests") + "'");
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
  }
};

TEST_F(WebBrowserService, LoadsWatchPageAndSendsCookiesBack) {
  TVideoServiceProcess service({"--title", "Sample Clip"});
  ASSERT_GT(service.Port(), 0) << service.StandardError();
  TWebBrowser browser;
  EXPECT_EQ(browser.ReadyState(), READYSTATE_UNINITIALIZED);
  EXPECT_EQ(browser.Document(), nullptr);

  browser.Navigate(std::wstring(L"http://127.0.0.1:") + std::to_wstring(service.Port()) + L"/watch?v=abc");
  EXPECT_EQ(browser.ReadyState(), READYSTATE_LOADING);
  ASSERT_TRUE(WaitReady(browser));
  EXPECT_EQ(browser.ReadyState(), READYSTATE_COMPLETE);
  EXPECT_EQ(browser.StatusCode(), 200);
  std::string page = Saved(browser);
  EXPECT_NE(page.find(std::string(kTitleMarker) + "Sample Clip\""), std::string::npos);
  EXPECT_EQ(TokenIn(page).rfind("OEgs", 0), 0u);
  EXPECT_EQ(page, browser.Document()->Source());

  auto cookies = TCookieJar::Instance().Cookies();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].Name, "VISITOR_INFO1_LIVE");

  Load(browser, service.Url("/watch?v=abc"));
  QJsonArray seen = Requests(service);
  ASSERT_GE(seen.size(), 2);
  EXPECT_EQ(seen[0].toObject()["cookie"].toString(), "");
  EXPECT_EQ(seen[1].toObject()["cookie"].toString().toStdString(),
            "VISITOR_INFO1_LIVE=" + cookies[0].Value);
  EXPECT_EQ(seen[1].toObject()["agent"].toString().toStdString(), browser.Agent);
}

TEST_F(WebBrowserService, AgeGateLoginCarriesOverToLaterNavigations) {
  TVideoServiceProcess service({"--age-gate", "--user", "jo", "--password", "p&ss #1"});
  ASSERT_GT(service.Port(), 0) << service.StandardError();
  TWebBrowser browser;
  std::string page = Load(browser, service.Url("/watch?v=xyz"));
  EXPECT_NE(Lower(page).find("please verify you are 18 or older"), std::string::npos);
  EXPECT_EQ(TokenIn(page), "");

  // Wrong password: the gate again.
  page = Load(browser, service.Url("/login?next=/watch?v=xyz&username=jo&password=nope&action_login=Log+In"));
  EXPECT_NE(page.find("Your login was incorrect."), std::string::npos);
  EXPECT_NE(Lower(page).find("please verify you are 18 or older"), std::string::npos);

  // Right one (escaped on the wire): redirected to the watch page itself.
  page = Load(browser,
              service.Url("/login?next=/watch?v=xyz&username=jo&password=p%26ss%20%231&action_login=Log+In"));
  EXPECT_NE(TokenIn(page), "");
  EXPECT_EQ(browser.LocationURL(), service.Url("/watch?v=xyz"));

  // Another browser of the same process is logged in too.
  TWebBrowser second;
  page = Load(second, service.Url("/watch?v=xyz"));
  EXPECT_NE(TokenIn(page), "");
  EXPECT_EQ(Lower(page).find("please verify"), std::string::npos);
}

TEST_F(WebBrowserService, BirthDateConfirmation) {
  TVideoServiceProcess service({"--birth-date"});
  ASSERT_GT(service.Port(), 0) << service.StandardError();
  TWebBrowser browser;
  std::string page = Load(browser, service.Url("/watch?v=bd1"));
  EXPECT_NE(Lower(page).find("confirm birth date"), std::string::npos);
  EXPECT_EQ(TokenIn(page), "");
  page = Load(browser, service.Url("/verify_age?next_url=/watch?v=bd1&action_confirm=Confirm+Birth+Date"));
  EXPECT_NE(TokenIn(page), "");
  page = Load(browser, service.Url("/watch?v=bd1"));
  EXPECT_NE(TokenIn(page), "");
}

TEST_F(WebBrowserService, PageVariantsOfTheSwitches) {
  {
    TVideoServiceProcess service({"--title", "Tom & Jerry", "--double-escaped-ampersand"});
    ASSERT_GT(service.Port(), 0);
    TWebBrowser b;
    EXPECT_NE(Load(b, service.Url("/watch?v=a")).find(std::string(kTitleMarker) + "Tom &amp;amp; Jerry\""),
              std::string::npos);
  }
  {
    TVideoServiceProcess service({"--no-title-quote", "--title", "Open"});
    ASSERT_GT(service.Port(), 0);
    TWebBrowser b;
    std::string page = Load(b, service.Url("/watch?v=a"));
    std::size_t at = page.find(kTitleMarker);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(page.find('"', at + sizeof kTitleMarker - 1), std::string::npos);
    EXPECT_NE(TokenIn(page), "");
  }
  {
    TVideoServiceProcess service({"--not-available"});
    ASSERT_GT(service.Port(), 0);
    TWebBrowser b;
    EXPECT_NE(Load(b, service.Url("/watch?v=a")).find("This functionality is not available right now."),
              std::string::npos);
  }
  {
    TVideoServiceProcess service({"--no-token"});
    ASSERT_GT(service.Port(), 0);
    TWebBrowser b;
    std::string page = Load(b, service.Url("/watch?v=a"));
    EXPECT_NE(page.find(kTitleMarker), std::string::npos);
    EXPECT_EQ(page.find("OEgs"), std::string::npos);
  }
}

TEST_F(WebBrowserService, GetVideoRedirectsToTheCacheHostByteForByte) {
  TVideoServiceProcess service({"--redirects", "2"});
  ASSERT_GT(service.Port(), 0) << service.StandardError();
  TWebBrowser browser;
  std::string token = TokenIn(Load(browser, service.Url("/watch?v=vid7")));
  ASSERT_FALSE(token.empty());
  std::string flv = Load(browser, service.Url("/get_video?video_id=vid7&t=" + token));
  EXPECT_EQ(browser.StatusCode(), 200);
  EXPECT_EQ(browser.LocationURL(),
            "http://127.0.0.1:" + std::to_string(service.CachePort()) + "/get_video.flv?id=vid7");
  std::string expected = Capture("curl -s '" + service.Url("/__flv") + "'");
  ASSERT_GT(expected.size(), 10000u);
  EXPECT_EQ(expected.substr(0, 3), "FLV");
  EXPECT_TRUE(flv == expected) << flv.size() << " vs " << expected.size();

  Load(browser, service.Url("/get_video?video_id=vid7&t=OEgsWrong"));
  EXPECT_EQ(browser.StatusCode(), 404);
}

TEST_F(WebBrowserService, NewNavigationAbandonsTheOneLoading) {
  TVideoServiceProcess service({"--page-delay", "1"});
  ASSERT_GT(service.Port(), 0);
  TWebBrowser browser;
  browser.Navigate(service.Url("/watch?v=slow"));
  EXPECT_EQ(browser.ReadyState(), READYSTATE_LOADING);
  browser.Navigate2(std::wstring(L"about:blank"));
  EXPECT_EQ(browser.ReadyState(), READYSTATE_COMPLETE);
  ASSERT_NE(browser.Document(), nullptr);
  EXPECT_EQ(Saved(browser), "");
  PumpUntil([] { return false; }, 1500);
  EXPECT_EQ(browser.LocationURL(), "about:blank");
  EXPECT_EQ(Saved(browser), "");

  // A load that outlasts the time limit completes empty.
  browser.TimeoutMs = 300;
  browser.Navigate(service.Url("/watch?v=slow"));
  ASSERT_TRUE(WaitReady(browser, 5000));
  EXPECT_EQ(Saved(browser), "");
  EXPECT_EQ(browser.StatusCode(), 0);
}

TEST_F(WebBrowserService, UnreachableAddressCompletesEmpty) {
  int port;
  {
    TVideoServiceProcess gone;  // a port that was free a moment ago
    port = gone.Port();
  }
  ASSERT_GT(port, 0);
  TWebBrowser browser;
  browser.Navigate("http://127.0.0.1:" + std::to_string(port) + "/watch?v=a");
  ASSERT_TRUE(WaitReady(browser, 10000));
  EXPECT_EQ(Saved(browser), "");
  EXPECT_EQ(browser.StatusCode(), 0);
  browser.Navigate("ftp://127.0.0.1/x");
  ASSERT_TRUE(WaitReady(browser, 5000));
  EXPECT_EQ(Saved(browser), "");
}

TEST(WebBrowserCookies, PathDomainAndExpiry) {
  TCookieJar jar;
  jar.SetCookie("www.example.com", "/watch", "a=1");
  jar.SetCookie("www.example.com", "/account/login", "b=2; Path=/account");
  jar.SetCookie("www.example.com", "/", "c=3; Domain=.example.com; path=/");
  jar.SetCookie("www.example.com", "/", "evil=1; Domain=other.com");  // refused
  jar.SetCookie("www.example.com", "/", "s=1; Secure");
  EXPECT_EQ(jar.CookieHeader("www.example.com", "/watch"), "a=1; c=3");
  EXPECT_EQ(jar.CookieHeader("www.example.com", "/account/x"), "b=2; a=1; c=3");
  EXPECT_EQ(jar.CookieHeader("WWW.EXAMPLE.COM", "/accounts"), "a=1; c=3");
  EXPECT_EQ(jar.CookieHeader("cache.example.com", "/"), "c=3");
  EXPECT_EQ(jar.CookieHeader("example.org", "/"), "");
  EXPECT_EQ(jar.CookieHeader("other.com", "/"), "");

  jar.SetCookie("www.example.com", "/", "a=9");  // replaces
  EXPECT_EQ(jar.CookieHeader("www.example.com", "/"), "a=9; c=3");
  jar.SetCookie("www.example.com", "/", "a=; Max-Age=0");
  jar.SetCookie("www.example.com", "/", "c=x; Domain=example.com; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(jar.CookieHeader("www.example.com", "/"), "");
  jar.SetCookie("www.example.com", "/", "d=4; expires=Fri, 31-Dec-2099 23:59:59 GMT");
  EXPECT_EQ(jar.CookieHeader("www.example.com", "/"), "d=4");
  const std::size_t kept = jar.Cookies().size();  // b, s and d
  EXPECT_EQ(kept, 3u);
  jar.SetCookie("www.example.com", "/", "novalue");
  jar.SetCookie("www.example.com", "/", "=x");
  EXPECT_EQ(jar.Cookies().size(), kept);
}

TEST(WebBrowserUrls, WireFormAndResolution) {
  EXPECT_EQ(TWebBrowser::WireUrl(std::string(" http://h/a b?x=\xE9 ")), "http://h/a%20b?x=%E9");
  EXPECT_EQ(TWebBrowser::WireUrl(std::wstring(L"http://h/\u00e9")), "http://h/%C3%A9");
  EXPECT_EQ(TWebBrowser::ResolveUrl("http://h:81/a/b?c", "/x?y"), "http://h:81/x?y");
  EXPECT_EQ(TWebBrowser::ResolveUrl("http://h/a/b?c", "d"), "http://h/a/d");
  EXPECT_EQ(TWebBrowser::ResolveUrl("http://h/a/b", "?q"), "http://h/a/b?q");
  EXPECT_EQ(TWebBrowser::ResolveUrl("http://h/a", "HTTP://other/z"), "HTTP://other/z");
  EXPECT_EQ(TWebBrowser::ResolveUrl("http://h/a", "//cache:8/z"), "http://cache:8/z");
}

// Every request of a load, relocations included, is handed to PrepareClient
// (the route and bandwidth); a page that goes quiet completes empty within
// the limit, and says why.
TEST(WebBrowserLimits, EachRequestPreparedAndSilenceEndsTheLoad) {
  httptest::ScriptedServer server([&](httptest::PeerConn& c, int index) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    if (index == 0) {
      c.Send("HTTP/1.0 302 Found\r\nLocation: /quiet\r\nContent-Length: 0\r\n\r\n");
    } else {
      c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n<html>");
      c.WaitForClientClose();
    }
  });
  TWebBrowser b;
  b.IdleTimeoutMs = 300;
  std::vector<std::string> prepared;
  b.PrepareClient = [&](THttpCli& cli, const std::string& url) {
    prepared.push_back(url);
    cli.Agent = "prepared";
  };
  const auto start = std::chrono::steady_clock::now();
  b.Navigate(server.Url("/start"));
  ASSERT_TRUE(WaitReady(b, 10000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Saved(b), "");
  EXPECT_EQ(b.LastError(), "Timed out: nothing received for 0.3 seconds");
  EXPECT_EQ(prepared, (std::vector<std::string>{server.Url("/start"), server.Url("/quiet")}));
  const std::vector<std::string> heads = server.Requests();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_NE(heads[1].find("\r\nUser-Agent: prepared\r\n"), std::string::npos) << heads[1];
  // A new navigation forgets the last failure.
  b.Navigate(std::string("about:blank"));
  EXPECT_EQ(b.LastError(), "");
}

}  // namespace

// A page's relocations: as many as the HTTP client follows, then a failure
// that says why; a Location to another scheme fails at once.
TEST(WebBrowserLimits, RelocationsUpToTheLimitAndNoOtherScheme) {
  httptest::ScriptedServer server([&](httptest::PeerConn& c, int) {
    std::string head;
    if (!c.ReadRequest(head)) return;
    server.Record(head);
    const std::string path = head.substr(4, head.find(' ', 4) - 4);
    if (path == "/file") {
      c.Send("HTTP/1.0 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
    } else if (path.compare(0, 4, "/to/") == 0 && path != "/to/0") {
      const int left = std::stoi(path.substr(4));
      c.Send("HTTP/1.0 302 Found\r\nLocation: /to/" + std::to_string(left - 1) + "\r\nContent-Length: 0\r\n\r\n");
    } else {
      c.Send("HTTP/1.0 200 OK\r\nContent-Length: 16\r\n\r\n<html>end</html>");
    }
    c.Close();
  });
  TWebBrowser b;
  EXPECT_EQ(Load(b, server.Url("/to/5")), "<html>end</html>");
  EXPECT_EQ(b.LastError(), "");
  EXPECT_EQ(server.Requests().size(), 6u);
  EXPECT_EQ(Load(b, server.Url("/to/6")), "");
  EXPECT_EQ(b.LastError(), "too many relocations (5)");
  EXPECT_EQ(server.Requests().size(), 12u);  // the first and five relocations
  EXPECT_EQ(Load(b, server.Url("/file")), "");
  EXPECT_EQ(b.LastError(), "unsupported relocation to file:");
  EXPECT_EQ(server.Requests().size(), 13u);
}
