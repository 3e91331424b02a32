#include "app/core/ResumableGet.h"

#include <memory>
#include <utility>

#include "app/core/AsciiText.h"
#include "app/core/ProxyHop.h"
#include "app/core/ResumeDecision.h"
#include "app/core/TransferResult.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpTimeLimits.h"
#include "platform/MessageLoop.h"
#include "platform/Stream.h"

namespace {

// The client follows this answer to another address itself.
bool Relocating(const THttpCli& cli) {
  const int s = cli.StatusCode();
  std::string location;
  return cli.FollowRelocation && (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) &&
         ascii::HeaderValue(cli.ReceivedHeader(), "Location", location) && !location.empty();
}

// Every "Content-Length" line holds digits only and they agree: otherwise
// the end of the body cannot be known.
bool LengthReadable(const std::vector<std::string>& header) {
  std::string first;
  for (const std::string& line : header) {
    std::string value;
    if (!ascii::HeaderLine(line, "Content-Length", value)) continue;
    if (!ascii::AllDigits(value) || (!first.empty() && value != first)) return false;
    first = value;
  }
  return true;
}

// Puts two of the client's events back as they were when it goes.
class TBorrowedEvents {
 public:
  explicit TBorrowedEvents(THttpCli& cli)
      : FCli(cli),
        FBegin(cli.OnHeaderBegin),
        FEnd(cli.OnHeaderEnd),
        FBeforeSend(cli.OnBeforeHeaderSend),
        FStream(cli.ReceiveStream) {}
  ~TBorrowedEvents() {
    FCli.OnHeaderBegin = FBegin;
    FCli.OnHeaderEnd = FEnd;
    FCli.OnBeforeHeaderSend = FBeforeSend;
    FCli.ReceiveStream = FStream;
  }
  TBorrowedEvents(const TBorrowedEvents&) = delete;
  TBorrowedEvents& operator=(const TBorrowedEvents&) = delete;
  void Begin(THttpCli* s) const {
    if (FBegin) FBegin(s);
  }
  void End(THttpCli* s) const {
    if (FEnd) FEnd(s);
  }
  void BeforeSend(THttpCli* s, const std::string& method, std::vector<std::string>& headers) const {
    if (FBeforeSend) FBeforeSend(s, method, headers);
  }

 private:
  THttpCli& FCli;
  THttpNotifyEvent FBegin, FEnd;
  TBeforeHeaderSendEvent FBeforeSend;
  plat::TStream* FStream;
};

}  // namespace

TResumableGet::TResumableGet(THttpCli& cli, plat::TStream& file, TResumableGetHooks hooks)
    : FCli(cli), FFile(file), FHooks(std::move(hooks)) {}

bool TResumableGet::Wait(std::uint32_t ms) {
  const std::uint32_t start = plat::GetTickCount();
  while (static_cast<std::uint32_t>(plat::GetTickCount() - start) < ms) {
    if (Stopped() || plat::ApplicationTerminated()) return false;
    plat::WaitForInput(20);
    plat::ProcessMessages();
  }
  return !Stopped();
}

TResumableGet::TVerdict TResumableGet::Attempt(const std::string& url, bool resume, std::string& why) {
  std::int64_t have = 0;
  if (resume) {
    have = FFile.GetSize();
  } else {
    FFile.SetSize(0);
  }
  FFile.Seek(0, plat::soEnd);
  FCli.URL = url;
  FCli.ContentRangeBegin.clear();  // the client sends those once only
  FCli.ContentRangeEnd.clear();

  TVerdict verdict = vdNone;
  TBorrowedEvents events(FCli);
  FCli.ReceiveStream = &FFile;
  // Every request of the attempt asks for the rest, relocations included.
  FCli.OnBeforeHeaderSend = [&](THttpCli* s, const std::string& method, std::vector<std::string>& headers) {
    std::erase_if(headers, [](const std::string& h) {
      std::string v;
      return ascii::HeaderLine(h, "Range", v);
    });
    if (have > 0) headers.push_back("Range: bytes=" + std::to_string(have) + "-");
    events.BeforeSend(s, method, headers);
  };
  FCli.OnHeaderBegin = [&](THttpCli* s) {
    FCli.ReceiveStream = &FFile;  // every answer starts attached; its header decides
    events.Begin(s);
  };
  FCli.OnHeaderEnd = [&](THttpCli* s) {
    const TResumeDecision d = DecideResume(have, FCli.StatusCode(), FCli.ReceivedHeader(), Relocating(FCli));
    if (d.Action != raNotFinal && d.Action != raRefused && !LengthReadable(FCli.ReceivedHeader())) {
      FCli.ReceiveStream = nullptr;
      verdict = vdRefused;
      why = "the answer's Content-Length cannot be read";
      FCli.Abort();
      events.End(s);
      return;
    }
    switch (d.Action) {
      case raContinue:
        break;
      case raRestart:
        Say(d.Why);
        FFile.SetSize(0);
        FFile.Seek(0, plat::soBeginning);
        have = 0;
        break;
      case raComplete:
        FCli.ReceiveStream = nullptr;
        verdict = vdComplete;
        break;
      case raMismatch:
        FCli.ReceiveStream = nullptr;
        verdict = vdRefused;
        why = "cannot continue the partial file: " + d.Why;
        FCli.Abort();
        break;
      case raNotFinal:
      case raRefused:
        FCli.ReceiveStream = nullptr;  // not the file's bytes
        break;
    }
    events.End(s);
  };
  try {
    FCli.Get();
  } catch (const EHttpException&) {
    // Judged from the client's results below.
  }
  if (FHooks.Flush) FHooks.Flush();
  return verdict;
}

TGetOutcome TResumableGet::Run(const std::string& url) {
  TGetOutcome outcome;
  THttpTimeLimits limits(FCli, ConnectTimeoutMs, IdleTimeoutMs);
  const TProxyHopWatch hop(FCli);
  for (int attempt = 1;; ++attempt) {
    outcome.Attempts = attempt;
    limits.Rearm();
    std::string why;
    const TVerdict verdict = Attempt(url, attempt > 1 || ContinueFirst, why);
    if (verdict == vdComplete && !Stopped()) {
      outcome.Complete = true;
      return outcome;
    }
    TTransferFailure f = ClassifyRequest(FCli.StatusCode(), FCli.ReasonPhrase(), FCli.RequestDoneError(),
                                         FCli.ReceivedHeader(), Stopped(), limits.Reason(), limits.ConnectExpired());
    if (f.Kind != fkStopped) f.Reason = hop.Explain(f.Reason);
    if (verdict == vdRefused && f.Kind != fkStopped) {
      f.Kind = fkOther;
      f.Reason = why;
    }
    const std::string local = FHooks.LocalError ? FHooks.LocalError() : std::string();
    if (!local.empty() && f.Kind != fkStopped) {
      f.Kind = fkLocal;
      f.Reason = local;
    }
    if (f.Kind == fkNone) {
      // A success status, but is the body whole?
      if (std::optional<std::string> shortBody = TransferFailure(TTransferResult::Of(FCli, std::string()))) {
        f.Kind = fkClosedEarly;
        f.Reason = *shortBody;
      }
    }
    if (f.Kind == fkNone) {
      outcome.Complete = true;
      return outcome;
    }
    outcome.Failure = f;
    if (!Policy.MayRetry(f, attempt)) return outcome;
    const int delay = TRetryPolicy::DelaySeconds(f, attempt);
    Say(TRetryPolicy::RetryLine(f, attempt, Policy.Retries(), delay));
    if (!Wait(static_cast<std::uint32_t>(delay) * MsPerSecond)) {
      outcome.Failure = ClassifyRequest(0, "", 0, {}, true);
      return outcome;
    }
  }
}
