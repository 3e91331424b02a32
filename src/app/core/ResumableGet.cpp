#include "app/core/ResumableGet.h"

#include <memory>
#include <utility>

#include "app/core/HeaderField.h"
#include "app/core/ProxyHop.h"
#include "app/core/ResumeDecision.h"
#include "app/core/TransferResult.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpTimeLimits.h"
#include "platform/AsciiText.h"
#include "platform/MessageLoop.h"
#include "platform/Stream.h"

namespace {

// The client follows this answer to another address itself.
bool Relocating(const THttpCli& cli) {
  const int s = cli.StatusCode();
  std::string location;
  return cli.FollowRelocation && (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) &&
         HeaderValue(cli.ReceivedHeader(), "Location", location) && !location.empty();
}

// Every "Content-Length" line holds digits only and they agree: otherwise
// the end of the body cannot be known.
bool LengthReadable(const std::vector<std::string>& header) {
  std::string first;
  for (const std::string& line : header) {
    std::string value;
    if (!HeaderLine(line, "Content-Length", value)) continue;
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
        FData(cli.OnDocData),
        FStream(cli.ReceiveStream) {}
  ~TBorrowedEvents() {
    FCli.OnHeaderBegin = FBegin;
    FCli.OnHeaderEnd = FEnd;
    FCli.OnBeforeHeaderSend = FBeforeSend;
    FCli.OnDocData = FData;
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
  void Data(THttpCli* s, const void* data, int len) const {
    if (FData) FData(s, data, len);
  }

 private:
  THttpCli& FCli;
  THttpNotifyEvent FBegin, FEnd;
  TBeforeHeaderSendEvent FBeforeSend;
  TDocDataEvent FData;
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
      return HeaderLine(h, "Range", v) || HeaderLine(h, "If-Range", v);
    });
    if (have > 0) {
      headers.push_back("Range: bytes=" + std::to_string(have) + "-");
      // A server that has another version answers with the whole of it.
      const std::string validator = Identity.IfRange();
      if (!validator.empty()) headers.push_back("If-Range: " + validator);
    }
    events.BeforeSend(s, method, headers);
  };
  // The body of an answer offered to the caller, counted for its probe.
  bool probing = false;
  bool keep = false;  // the probe hands the running request over
  std::int64_t received = 0;
  FHandedAt = -1;
  FCli.OnHeaderBegin = [&](THttpCli* s) {
    FCli.ReceiveStream = &FFile;  // every answer starts attached; its header decides
    probing = false;
    events.Begin(s);
  };
  FCli.OnDocData = [&](THttpCli* s, const void* data, int len) {
    events.Data(s, data, len);
    if (!probing || len <= 0 || FCli.ReceiveStream != &FFile) return;
    received += len;
    if (keep || !FHooks.Probe(received)) return;
    // The request goes on for the caller from where the file ends; what
    // arrives before the wait below returns still goes into the file.
    keep = true;
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
      case raNotFinal:
      case raRefused:
        break;
    }
    if (d.Action == raContinue || d.Action == raRestart || d.Action == raComplete) {
      const TVerdict kept = Identify(url, have, why);
      if (kept != vdNone) {
        FCli.ReceiveStream = nullptr;
        verdict = kept;
        FCli.Abort();
        events.End(s);
        return;
      }
    }
    if ((d.Action == raContinue || d.Action == raRestart) && FHooks.TakeOver && FHooks.TakeOver(FCli, have)) {
      if (FHooks.Probe) {
        probing = true;  // the body goes on into the file meanwhile
        received = 0;
      } else {
        FCli.ReceiveStream = nullptr;
        verdict = vdHandedOver;
        FCli.Abort();
        events.End(s);
        return;
      }
    }
    switch (d.Action) {
      case raContinue:
      case raRestart:
      case raComplete:
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
  bool running = false;
  try {
    running = !FCli.GetUntil([&] { return keep; });
  } catch (const EHttpException&) {
    // Judged from the client's results below.
  }
  if (running) {
    FCli.ReceiveStream = nullptr;
    if (Stopped()) {
      FCli.Abort();
    } else {
      FHandedAt = have + received;
      verdict = vdHandedOver;
    }
  }
  if (FHooks.Flush) FHooks.Flush();
  return verdict;
}

TResumableGet::TVerdict TResumableGet::Identify(const std::string& url, std::int64_t have, std::string& why) {
  const TPartIdentity answer = AnswerIdentity(url, FCli.StatusCode(), FCli.ReceivedHeader());
  TPartIdentity next = Identity;
  if (have > 0) {
    // Continuing: the bytes on disk and these must be of one file.
    const std::string differs = Identity.Differs(answer);
    if (!differs.empty()) {
      why = differs;
      return vdChanged;
    }
    if (next.Url.empty()) next.Url = url;
    if (next.Total < 0) next.Total = answer.Total;
    if (next.ETag.empty()) next.ETag = answer.ETag;
    if (next.LastModified.empty()) next.LastModified = answer.LastModified;
  } else {
    next = answer;  // the first answer of this file
  }
  if (next == Identity) return vdNone;
  Identity = next;
  const std::string error = FHooks.Identified ? FHooks.Identified(Identity) : std::string();
  if (error.empty()) return vdNone;
  why = error;
  FLocalFailure = true;
  return vdRefused;
}

std::optional<TTransferFailure> TResumableGet::SizeFailure() const {
  if (Identity.Total < 0) return std::nullopt;
  const std::int64_t size = FFile.GetSize();
  if (size == Identity.Total) return std::nullopt;
  TTransferFailure f;
  f.Reason = "the file holds " + std::to_string(size) + " of the " + std::to_string(Identity.Total) +
             " bytes the server announced";
  // Too few are asked for again; too many cannot be mended by asking.
  f.Kind = size < Identity.Total ? fkClosedEarly : fkOther;
  return f;
}

TGetOutcome TResumableGet::Run(const std::string& url) {
  TGetOutcome outcome;
  THttpTimeLimits limits(FCli, ConnectTimeoutMs, IdleTimeoutMs);
  const TProxyHopWatch hop(FCli);
  bool resume = ContinueFirst;
  if (resume && !Identity.Url.empty() && Identity.Url != url) {
    Say("the partial file came from another address; starting again from zero");
    resume = false;
  }
  if (!resume) Identity = {};
  bool restartedForChange = false;
  int retry = 0;  // retries made; a restart for a changed file is none
  for (;;) {
    outcome.Attempts++;
    limits.Rearm();
    std::string why;
    FLocalFailure = false;
    const TVerdict verdict = Attempt(url, resume, why);
    resume = true;
    if (verdict == vdHandedOver && !Stopped()) {
      outcome.HandedOver = true;
      outcome.HandedAt = FHandedAt;
      return outcome;
    }
    if (verdict == vdChanged && !Stopped()) {
      if (restartedForChange) {
        outcome.Failure.Kind = fkOther;
        outcome.Failure.Reason = "the file changed on the server again while downloading (" + why + ")";
        return outcome;
      }
      // Never appended to the old bytes: the file starts again.
      restartedForChange = true;
      Say("the file changed on the server (" + why + "); starting again from zero");
      Identity = {};
      FFile.SetSize(0);
      resume = false;
      continue;
    }
    TTransferFailure f = ClassifyRequest(FCli.StatusCode(), FCli.ReasonPhrase(), FCli.RequestDoneError(),
                                         FCli.ReceivedHeader(), Stopped(), limits.Reason(), limits.ConnectExpired());
    if (f.Kind != fkStopped) f.Reason = hop.Explain(f.Reason);
    if (verdict == vdRefused && f.Kind != fkStopped) {
      f.Kind = FLocalFailure ? fkLocal : fkOther;
      f.Reason = why;
    }
    const std::string local = FHooks.LocalError ? FHooks.LocalError() : std::string();
    if (!local.empty() && f.Kind != fkStopped) {
      f.Kind = fkLocal;
      f.Reason = local;
    }
    if (f.Kind == fkNone && verdict != vdComplete) {
      // A success status, but is the body whole?
      if (std::optional<std::string> shortBody = TransferFailure(TTransferResult::Of(FCli, std::string()))) {
        f.Kind = fkClosedEarly;
        f.Reason = *shortBody;
      }
    }
    if (f.Kind == fkNone || (verdict == vdComplete && !Stopped() && f.Kind != fkLocal)) {
      // Whole only with exactly the bytes announced.
      if (std::optional<TTransferFailure> size = SizeFailure()) {
        f = *size;
      } else {
        outcome.Complete = true;
        return outcome;
      }
    }
    outcome.Failure = f;
    ++retry;
    if (!Policy.MayRetry(f, retry)) return outcome;
    const int delay = TRetryPolicy::DelaySeconds(f, retry);
    Say(TRetryPolicy::RetryLine(f, retry, Policy.Retries(), delay));
    if (!Wait(static_cast<std::uint32_t>(delay) * MsPerSecond)) {
      outcome.Failure = ClassifyRequest(0, "", 0, {}, true);
      return outcome;
    }
  }
}
