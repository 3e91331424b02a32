// Arbitrary bytes as a server's answer, through THttpCli's receive path.
// The client runs as in a real request, except that its socket operations
// are served from the input: reads hand out slices of it (of sizes chosen by
// the input), a delayed close or an abort ends the connection, and a new
// connection cannot be made. Relocations, authentication passes and
// kept-connection requests therefore run their real code. The receive
// stream may refuse bytes beyond a size chosen by the input.
//
// Beside the sanitizers, an oracle: a request reported as success (Get
// would not raise) delivered exactly the announced length when one was
// announced, ended on the last chunk when chunked, and wrote to the stream
// exactly the bytes it counted.
#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "net/http/HttpProt.h"
#include "platform/MessageLoop.h"
#include "platform/Stream.h"

namespace {

class FuzzCli : public THttpCli {
 public:
  const std::uint8_t* data = nullptr;
  std::size_t size = 0, pos = 0;
  std::uint32_t rng = 1;
  bool closed = false;
  bool closePending = false;

  void Begin(THttpRequest rq) {
    FRequestType = rq;
    ResetResponse();
    FHostName = FCurrentHost = FTargetHost = "fuzz";
    FPort = FCurrentPort = FTargetPort = "80";
    FProtocol = FCurrentProtocol = "http";
    FPath = "/a/b.flv";
    FDocName = "b.flv";
    FRequestDoneFlag = false;
    SocketSessionConnected(this, 0);
  }

  // Delivers the connection's end the way the socket does.
  void CloseNow() {
    if (closed) return;
    closed = true;
    closePending = false;
    if (CtrlSocket()->OnSessionClosed) CtrlSocket()->OnSessionClosed(CtrlSocket(), 0);
  }

  bool Exhausted() const { return pos >= size; }
  void Feed() { SocketDataAvailable(CtrlSocket(), 0); }

  bool Failed() const { return FRequestFailed; }
  bool Chunked() const { return FAnswer.Chunked; }
  bool ChunksDone() const { return FChunkDecoder.Done(); }

 protected:
  int SockReceive(void* Buffer, int Len) override {
    if (closed || pos >= size) return 0;
    rng = rng * 1103515245u + 12345u;
    std::size_t want = 1 + (rng >> 16) % 9000;
    std::size_t n = std::min<std::size_t>({want, size - pos, static_cast<std::size_t>(Len)});
    std::memcpy(Buffer, data + pos, n);
    pos += n;
    return static_cast<int>(n);
  }
  void SockSend(const void*, int) override {}
  void SockPostClose() override { closePending = true; }
  void SockClose() override { CloseNow(); }
  void SockAbort() override { CloseNow(); }
  void SockPause() override {}
  void SockResume() override {}
  bool SockIsConnected() override { return !closed; }
  bool SockIsClosed() override { return closed; }
  void SockDnsLookup(const std::string&) override { throw std::runtime_error("no network in the fuzzer"); }
  void SockCancelDnsLookup() override {}
  std::string SockDnsResult() override { return "127.0.0.1"; }
  void SockConnect() override { throw std::runtime_error("no network in the fuzzer"); }
  int SockLastError() override { return 0; }
};

// A memory stream that takes no more than `cap` bytes, like a full disk.
class CappedStream : public plat::TMemoryStream {
 public:
  std::int64_t cap = -1;  // -1: no limit
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (cap >= 0 && GetPosition() + count > cap) count = std::max<std::int64_t>(cap - GetPosition(), 0);
    return plat::TMemoryStream::Write(buffer, count);
  }
};

QCoreApplication* App() {
  static int argc = 1;
  static char name[] = "fuzz_http_response";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return app;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  App();
  if (Size < 2) return 0;
  const std::uint8_t flags = Data[0];
  FuzzCli cli;
  cli.rng = Data[1] + 1u;
  cli.data = Data + 2;
  cli.size = Size - 2;
  CappedStream stream;
  if (((Data[1] >> 2) & 3) == 3) stream.cap = (Data[1] >> 4) * 97;
  cli.ReceiveStream = &stream;
  cli.SetRequestVer(flags & 1 ? "1.1" : "1.0");
  if (flags & 2) {
    cli.Username = "user";
    cli.Password = "pass";
    cli.ProxyUsername = "puser";
    cli.ProxyPassword = "ppass";
  }
  THttpCliOptions opts;
  if (flags & 4) opts.Include(httpoEnableContentCoding);
  if (flags & 8) opts.Include(httpoNoNTLMAuth);
  if (flags & 16) opts.Include(httpoBandwidthControl);
  cli.SetOptions(opts);
  cli.FollowRelocation = (flags & 32) == 0;
  if (flags & 64) cli.Proxy = "proxy:3128";
  bool abortInEvent = (flags & 128) != 0;
  std::int64_t seen = 0;
  cli.OnDocData = [&](THttpCli* s, const void* b, int n) {
    // Every byte handed on must be readable and counted.
    std::uint8_t x = 0;
    for (int i = 0; i < n; ++i) x ^= static_cast<const std::uint8_t*>(b)[i];
    volatile std::uint8_t sink = x;
    (void)sink;
    seen += n;
    if (abortInEvent && seen > 100) s->Abort();
  };
  bool done = false;
  bool docBegun = false;  // in the last answer
  cli.OnHeaderBegin = [&](THttpCli*) { docBegun = false; };
  cli.OnDocBegin = [&](THttpCli*) { docBegun = true; };
  cli.OnRequestDone = [&](THttpCli*, THttpRequest, std::uint16_t) { done = true; };
  THttpRequest rq = (Data[1] & 3) == 3 ? httpHEAD : httpGET;
  cli.Begin(rq);

  int idle = 0;
  while (idle < 4) {
    bool progressed = false;
    if (!cli.Exhausted() && !cli.closed) {
      cli.Feed();
      progressed = true;
    } else if (cli.closePending || !cli.closed) {
      cli.CloseNow();
      progressed = true;
    }
    plat::ProcessMessages();
    if (!progressed) ++idle;
    if (cli.State() == httpReady && cli.closed) ++idle;
  }
  plat::ProcessMessages();
  if (cli.ReceivedCount() < 0) __builtin_trap();

  const int status = cli.StatusCode();
  const bool success = done && cli.State() == httpReady && !cli.Failed() &&
                       !(status > 399 && status != 401 && status != 407);
  if (success) {
    if (rq != httpHEAD && cli.ContentLength() >= 0 && cli.ReceivedCount() != cli.ContentLength())
      __builtin_trap();  // a short or long document under a length
    if (cli.Chunked() && docBegun && !cli.ChunksDone()) __builtin_trap();  // chunks without their end
    if (stream.GetSize() != cli.ReceivedCount()) __builtin_trap();  // counted what the stream lacks
  }
  return 0;
}
