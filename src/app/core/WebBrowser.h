// The embedded web browser of the download window: Navigate, Navigate2,
// ReadyState and a Document whose source can be saved into a stream, on the
// program's own HTTP client. It follows redirects itself and keeps cookies
// in one jar for the life of the process, shared by every browser, so a
// login on one page carries over to later navigations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/Stream.h"

class THttpCli;

// ReadyState values.
enum TReadyState : int {
  READYSTATE_UNINITIALIZED = 0,
  READYSTATE_LOADING = 1,
  READYSTATE_LOADED = 2,
  READYSTATE_INTERACTIVE = 3,
  READYSTATE_COMPLETE = 4,
};

struct TCookie {
  std::string Domain;  // host name, or the Domain attribute without its leading dot
  bool HostOnly = true;
  std::string Path;
  std::string Name;
  std::string Value;
  bool Secure = false;
};

// The process's cookies. Only the browser's own (user-interface) thread
// uses it.
class TCookieJar {
 public:
  static TCookieJar& Instance();
  // Takes one Set-Cookie header value received for `host` and `requestPath`.
  // Expired cookies (Max-Age <= 0, or an Expires date in the past) remove
  // the stored one.
  void SetCookie(const std::string& host, const std::string& requestPath, const std::string& header);
  // The Cookie header value for a request to `host` and `path` ("" when none).
  std::string CookieHeader(const std::string& host, const std::string& path) const;
  std::vector<TCookie> Cookies() const { return FCookies; }
  void Clear() { FCookies.clear(); }

 private:
  std::vector<TCookie> FCookies;
};

// What the document offers for saving its source.
class IPersistStreamInit {
 public:
  virtual ~IPersistStreamInit() = default;
  // Writes the document's source into the stream at its position. Throws
  // plat::EStreamError when the stream refuses it.
  virtual void Save(plat::TStream& stream, bool clearDirty) = 0;
};

class TWebDocument final : public IPersistStreamInit {
 public:
  TWebDocument(std::string url, std::string source) : FURL(std::move(url)), FSource(std::move(source)) {}
  // Never fails for a loaded document; nullptr would mean "no such interface".
  IPersistStreamInit* QueryPersistStreamInit() { return this; }
  void Save(plat::TStream& stream, bool clearDirty) override;
  const std::string& URL() const { return FURL; }
  const std::string& Source() const { return FSource; }

 private:
  std::string FURL;
  std::string FSource;
};

class TWebBrowser {
 public:
  TWebBrowser();
  ~TWebBrowser();
  TWebBrowser(const TWebBrowser&) = delete;
  TWebBrowser& operator=(const TWebBrowser&) = delete;

  // Starts loading the address (an http address, or "about:blank" which
  // completes at once). A navigation still running is abandoned.
  void Navigate(const std::wstring& url);
  void Navigate(const std::string& url);
  void Navigate2(const std::wstring& url) { Navigate(url); }
  void Navigate2(const std::string& url) { Navigate(url); }

  // 0 before the first navigation, 1 while loading, 4 when complete (also
  // after a failed load, whose document is then empty).
  int ReadyState() const { return FReadyState; }
  // The loaded document; nullptr before the first load completes and while
  // a navigation is loading.
  TWebDocument* Document() const { return FDocument.get(); }
  // Address of the document shown (after redirects).
  const std::string& LocationURL() const { return FLocationURL; }
  // Status code of the last completed load, 0 when it failed without an answer.
  int StatusCode() const { return FStatusCode; }

  // Settings.
  int MaxRedirects = 5;  // as the HTTP client's LocationChangeMaxCount
  std::uint32_t TimeoutMs = 30000;  // a load that takes longer completes empty
  std::string Agent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)";
  // Time limits of each request (0: none): getting connected, and silence
  // once connected. A load that runs out completes empty.
  std::uint32_t ConnectTimeoutMs = 0;
  std::uint32_t IdleTimeoutMs = 0;
  // Called for the client of every request before it starts, with the
  // address it fetches: the route (proxy) and the bandwidth are set here.
  std::function<void(THttpCli& cli, const std::string& url)> PrepareClient;
  // Raised when a load has completed (ReadyState 4).
  std::function<void(TWebBrowser* Sender)> OnDocumentComplete;
  // Why the last load completed empty ("" when it did not fail).
  const std::string& LastError() const { return FLastError; }
  // Reason phrase of the last completed load's answer.
  const std::string& ReasonPhrase() const { return FReasonPhrase; }
  // The last load has completed and failed: no answer (LastError says why)
  // or an answer whose status is not a success.
  bool LoadFailed() const;
  // Why, for the user: LastError, or the status and its reason phrase
  // ("502 Bad Gateway"); "" when the load did not fail.
  std::string FailureText() const;

  // Addresses as they go on the wire: blanks, controls and bytes above 127
  // percent-encoded; a wide text is first written as UTF-8.
  static std::string WireUrl(const std::string& url);
  static std::string WireUrl(const std::wstring& url);
  // Resolves a Location value against the address it came from.
  static std::string ResolveUrl(const std::string& base, const std::string& location);

 private:
  struct TLoad;
  void StartLoad(const std::string& url);
  void LoadDone(std::uintptr_t serial, std::uint16_t error);
  void Complete(const std::string& url, std::string source, int status);
  void Retire();
  plat::LRESULT WndProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

  plat::HWND FWnd = 0;
  std::unique_ptr<TLoad> FLoad;
  std::vector<std::unique_ptr<TLoad>> FRetired;
  std::unique_ptr<TWebDocument> FDocument;
  std::uintptr_t FSerial = 0;
  int FReadyState = READYSTATE_UNINITIALIZED;
  int FRedirects = 0;
  int FStatusCode = 0;
  std::string FLocationURL;
  std::string FLastError;
  std::string FReasonPhrase;
};
