#include "app/core/SegmentedGet.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/core/HeaderField.h"
#include "app/core/ResumeDecision.h"
#include "app/core/TransferResult.h"
#include "net/http/HttpProt.h"
#include "net/http/HttpRateBudget.h"
#include "net/http/HttpTimeLimits.h"
#include "platform/MessageLoop.h"

namespace {

// A kill loses at most what arrived since: a quarter of a second.
constexpr std::uint32_t kSaveEveryMs = 250;
// A server that counts connections frees ours a moment after it closes: a
// connection of a capped host asks again only after this.
constexpr std::uint32_t kCappedPauseMs = 50;
// A free connection takes over half of a range that would keep its owner
// this long, even below the least split; not less than kLeastHalf.
constexpr std::uint32_t kHalfWorthMs = 500;
constexpr std::int64_t kLeastHalf = 64 * 1024;

bool Relocation(const THttpCli& cli) {
  const int s = cli.StatusCode();
  std::string location;
  return cli.FollowRelocation && (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) &&
         HeaderValue(cli.ReceivedHeader(), "Location", location) && !location.empty();
}

std::uint32_t Since(std::uint32_t from, std::uint32_t now) { return static_cast<std::uint32_t>(now - from); }

}  // namespace

bool Segmentable(int status, const std::vector<std::string>& header, std::int64_t total, std::int64_t segment) {
  if (status != 200 && status != 206) return false;
  std::string value;
  if (status == 200 && !(HeaderValue(header, "Accept-Ranges", value) && ascii::EqualNoCase(value, "bytes")))
    return false;
  if (HeaderValue(header, "Transfer-Encoding", value) && IsChunkedCoding(value)) return false;
  if (HeaderValue(header, "Content-Encoding", value) && !ascii::EqualNoCase(value, "identity")) return false;
  return segment > 0 && total >= 2 * segment;
}

struct TSegmentedGet::TSlot {
  enum TState { ssIdle, ssRunning, ssWaiting };
  int Id = 0;
  TState State = ssIdle;
  THttpCli* Cli = nullptr;         // Own, or the adopted first stream
  std::unique_ptr<THttpCli> Own;
  // The adopted client's events, put back when it is let go.
  THttpNotifyEvent KeptHeaderEnd;
  TDocDataEvent KeptData;
  THttpRequestDone KeptDone;
  std::unique_ptr<THttpTimeLimits> Limits;
  bool Finished = false;   // the request's done event came
  bool Accepted = false;   // its answer serves the asked range
  std::int64_t AskedEnd = 0;
  std::int64_t ServedEnd = 0;  // one past the answer's Content-Range
  std::int64_t Got = 0;    // bytes this request wrote
  int Failures = 0;        // failed requests since the last that brought bytes
  std::uint32_t WaitUntil = 0;
  std::uint32_t StartedAt = 0;  // of the request
  std::uint32_t WatchStart = 0;
  std::int64_t WatchBytes = 0;
  bool Slow = false;       // reopened by the watchdog
  bool Refused = false;    // the server turned its last request away
  int AskedAt = 0;         // requests ended when this one started, as the loop's pass began
  int ServedUntil = -1;    // requests ended when its last served answer ended
};

TSegmentedGet::TSegmentedGet(int fd, const TPartIdentity& identity, TSegmentedHooks hooks)
    : FFd(fd), FIdentity(identity), FHooks(std::move(hooks)) {}

TSegmentedGet::~TSegmentedGet() {
  AbortAll();
  for (auto& s : FSlots) LetGo(*s);
}

void TSegmentedGet::Adopt(THttpCli& cli, std::int64_t at) {
  FAdopted = &cli;
  FAdoptedAt = at;
}

void TSegmentedGet::LetGo(TSlot& s) {
  if (!s.Cli || s.Cli != FAdopted) return;
  s.Cli->OnHeaderEnd = s.KeptHeaderEnd;
  s.Cli->OnDocData = s.KeptData;
  s.Cli->OnRequestDone = s.KeptDone;
  s.Cli = nullptr;
  s.Limits.reset();
  FAdopted = nullptr;
}

bool TSegmentedGet::Continue(TSlot& s) {
  THttpCli& cli = *FAdopted;
  const std::int64_t unowned = FPlan->Unowned();
  const int takers =
      static_cast<int>(std::clamp<std::int64_t>(unowned / FSplit, 1, static_cast<std::int64_t>(FHostLimit)));
  if (FAdoptedAt < 0 || !FPlan->ClaimAt(s.Id, FAdoptedAt, (unowned + takers - 1) / takers)) return false;
  s.Cli = &cli;
  s.KeptHeaderEnd = cli.OnHeaderEnd;
  s.KeptData = cli.OnDocData;
  s.KeptDone = cli.OnRequestDone;
  cli.ReceiveStream = nullptr;
  s.Finished = false;
  s.Accepted = true;
  s.Got = 0;
  s.AskedEnd = FIdentity.Total;  // it asked for the rest of the file
  s.ServedEnd = FIdentity.Total;
  s.StartedAt = plat::GetTickCount();
  s.WatchStart = s.StartedAt;
  s.WatchBytes = 0;
  cli.OnHeaderEnd = nullptr;
  cli.OnDocData = [this, &s](THttpCli*, const void* data, int len) { Write(s, data, len); };
  cli.OnRequestDone = [&s](THttpCli*, THttpRequest, std::uint16_t) { s.Finished = true; };
  ShareRate(cli);
  s.Limits = std::make_unique<THttpTimeLimits>(cli, ConnectTimeoutMs, IdleTimeoutMs);
  s.State = TSlot::ssRunning;
  return true;
}

int TSegmentedGet::Open() const {
  return static_cast<int>(std::count_if(FSlots.begin(), FSlots.end(),
                                        [](const auto& s) { return s->State != TSlot::ssIdle; }));
}

int TSegmentedGet::Running() const {
  return static_cast<int>(std::count_if(FSlots.begin(), FSlots.end(),
                                        [](const auto& s) { return s->State == TSlot::ssRunning; }));
}

void TSegmentedGet::AbortAll() {
  for (auto& s : FSlots) {
    if (s->Cli && s->State == TSlot::ssRunning && !s->Finished) {
      s->Cli->OnDocData = nullptr;
      s->Cli->OnHeaderEnd = nullptr;
      s->Cli->Abort();
    }
  }
}

// One limit for the whole download: every connection draws on one budget,
// so those reading get what the idle and waiting ones leave.
void TSegmentedGet::ShareRate(THttpCli& cli) {
  if (RateLimit <= 0) return;
  if (!Budget) Budget = std::make_shared<THttpRateBudget>(RateLimit, plat::GetTickCount());
  cli.RateBudget = Budget;
}

void TSegmentedGet::Start(TSlot& s) {
  const std::optional<TByteRange> claim = FPlan->ClaimOf(s.Id);
  if (!claim || claim->Size() <= 0) {
    FPlan->Release(s.Id);
    s.State = TSlot::ssIdle;
    return;
  }
  LetGo(s);
  s.Limits.reset();
  s.Own = std::make_unique<THttpCli>();
  s.Cli = s.Own.get();
  THttpCli& cli = *s.Cli;
  if (FHooks.Prepare) FHooks.Prepare(cli);
  cli.URL = FUrl;
  cli.ReceiveStream = nullptr;  // pieces are written at their offsets
  s.Finished = false;
  s.Accepted = false;
  s.Got = 0;
  s.AskedEnd = claim->End;
  s.StartedAt = plat::GetTickCount();
  s.WatchStart = s.StartedAt;
  s.WatchBytes = 0;
  const std::string range = "Range: bytes=" + std::to_string(claim->Begin) + "-" + std::to_string(claim->End - 1);
  const std::string validator = FIdentity.IfRange();
  cli.OnBeforeHeaderSend = [range, validator](THttpCli*, const std::string&, std::vector<std::string>& headers) {
    std::erase_if(headers, [](const std::string& h) {
      std::string v;
      return HeaderLine(h, "Range", v) || HeaderLine(h, "If-Range", v);
    });
    headers.push_back(range);
    if (!validator.empty()) headers.push_back("If-Range: " + validator);
  };
  cli.OnHeaderEnd = [this, &s](THttpCli*) { HeaderEnd(s); };
  cli.OnDocData = [this, &s](THttpCli*, const void* data, int len) { Write(s, data, len); };
  cli.OnRequestDone = [&s](THttpCli*, THttpRequest, std::uint16_t) { s.Finished = true; };
  ShareRate(cli);
  s.Limits = std::make_unique<THttpTimeLimits>(cli, ConnectTimeoutMs, IdleTimeoutMs);
  s.State = TSlot::ssRunning;
  s.AskedAt = FEndsAtPass;
  try {
    cli.GetASync();
  } catch (const EHttpException&) {
    s.Finished = true;  // judged from the client's results
  }
}

void TSegmentedGet::HeaderEnd(TSlot& s) {
  THttpCli& cli = *s.Cli;
  const int status = cli.StatusCode();
  if (Relocation(cli)) return;
  const std::optional<TByteRange> claim = FPlan->ClaimOf(s.Id);
  if (status != 200 && (status != 206 || !claim)) return;  // an error answer: not the file's bytes
  const TPartIdentity answer = AnswerIdentity(FUrl, status, cli.ReceivedHeader());
  const std::string differs = FIdentity.Differs(answer);
  if (status == 200) {
    // "If-Range" gets the whole file when it names another version.
    FOneStream = differs.empty() ? "the server sent the whole file to a range request"
                                 : "the file changed on the server (" + differs + ")";
    cli.Abort();
    return;
  }
  if (!differs.empty()) {
    FOneStream = "the file changed on the server (" + differs + ")";
    cli.Abort();
    return;
  }
  std::string value;
  const std::optional<TContentRange> r =
      HeaderValue(cli.ReceivedHeader(), "Content-Range", value) ? ParseContentRange(value) : std::nullopt;
  if (!r || r->Unsatisfied || r->First != claim->Begin || r->Last < r->First) {
    cli.Abort();  // a range that does not fit: retried like a broken answer
    return;
  }
  s.Accepted = true;
  s.Refused = false;
  s.ServedEnd = r->Last + 1;
}

void TSegmentedGet::Write(TSlot& s, const void* data, int len) {
  if (!s.Accepted || len <= 0 || !FLocalError.empty()) return;
  const std::optional<TByteRange> claim = FPlan->ClaimOf(s.Id);
  if (!claim) return;
  const std::int64_t n = std::min<std::int64_t>(len, claim->Size());
  const char* p = static_cast<const char*>(data);
  std::int64_t written = 0;
  while (written < n) {
    const ssize_t w = ::pwrite(FFd, p + written, static_cast<std::size_t>(n - written), claim->Begin + written);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      FLocalError = std::string("cannot write the file: ") + std::strerror(w < 0 ? errno : ENOSPC);
      s.Cli->Abort();
      return;
    }
    written += w;
  }
  FPlan->Received(s.Id, n);
  s.Got += n;
  s.WatchBytes += n;
  FDoneChanged = true;
  // A claim halved for another connection ends before the asked range does.
  const std::optional<TByteRange> left = FPlan->ClaimOf(s.Id);
  if (left && left->Size() == 0 && s.AskedEnd > left->End) s.Cli->Abort();
}

bool TSegmentedGet::Finish(TSlot& s, TSegmentedOutcome& out) {
  THttpCli& cli = *s.Cli;
  TTransferFailure f = ClassifyRequest(cli.StatusCode(), cli.ReasonPhrase(), cli.RequestDoneError(),
                                       cli.ReceivedHeader(), Stopped(), s.Limits->Reason(),
                                       s.Limits->ConnectExpired());
  s.Finished = false;
  ++FEnds;
  if (s.Accepted) s.ServedUntil = FEnds;
  s.State = TSlot::ssIdle;
  const std::optional<TByteRange> claim = FPlan->ClaimOf(s.Id);
  if (!claim || claim->Size() == 0) {
    // The piece is whole, whatever ended the request after it.
    FPlan->Release(s.Id);
    s.Failures = 0;
    FDoneChanged = true;
    if (FHostLimit < std::clamp(Connections, 1, 32)) {
      s.WaitUntil = plat::GetTickCount() + kCappedPauseMs;
      s.State = TSlot::ssWaiting;  // keeps its place, no range
    }
    if (const std::string e = SaveDone(); !e.empty()) FLocalError = e;
    return true;
  }
  if (s.Slow) {
    s.Slow = false;  // reopened at once, keeping its bytes and its range
    Start(s);
    return true;
  }
  if (f.Kind == fkNone && s.Got > 0 && s.ServedEnd < s.AskedEnd && claim->Begin == s.ServedEnd) {
    // A server that serves less than asked per request: the rest is asked
    // for at once, no failure.
    s.Failures = 0;
    Start(s);
    return true;
  }
  if (f.Kind == fkNone) {
    f.Kind = fkClosedEarly;
    f.Reason = "the answer ended " + std::to_string(claim->Size()) + " bytes before the end of its range";
  }
  if (!s.Accepted && f.Kind != fkStopped) {
    // A server that will not open one more connection says so before the
    // first byte; the others carry on and this host gets fewer.
    const bool refusal = (f.Kind == fkStatus && (f.Status == 503 || f.Status == 429)) || f.Kind == fkReset ||
                         f.Kind == fkClosedEarly || (f.Kind == fkOther && cli.StatusCode() == 0);
    if (refusal && Open() > 0) {
      TurnedAway(s, f);
      return true;
    }
  }
  if (s.Got > 0) s.Failures = 0;
  ++s.Failures;
  if (!Policy.MayRetry(f, s.Failures)) {
    out.Failure = f;
    return false;
  }
  const int delay = TRetryPolicy::DelaySeconds(f, s.Failures);
  Say(TRetryPolicy::RetryLine(f, s.Failures, Policy.Retries(), delay));
  s.WaitUntil = plat::GetTickCount() + static_cast<std::uint32_t>(delay) * MsPerSecond;
  s.State = TSlot::ssWaiting;  // keeps its range
  return true;
}

// The server turned a connection away before its first byte: once more
// after the server's wait, since a connection this side just closed may
// still count against its cap. The second time the host gets no more than
// the connections the server may have counted meanwhile; one asking now
// that is turned away too lowers it further.
void TSegmentedGet::TurnedAway(TSlot& s, const TTransferFailure& f) {
  if (!s.Refused) {
    s.Refused = true;
    s.WaitUntil = plat::GetTickCount() + static_cast<std::uint32_t>(TRetryPolicy::DelaySeconds(f, 1)) * MsPerSecond;
    s.State = TSlot::ssWaiting;  // keeps its range
    return;
  }
  s.Refused = false;
  const int serving = std::max(1, MayCount(s));
  if (serving < FHostLimit) {
    FHostLimit = serving;
    Say("the server takes no more than " + std::to_string(serving) + " connection" + (serving == 1 ? "" : "s") +
        " (" + f.Reason + ")");
  }
  FPlan->Release(s.Id);
}

// The others served while the refused request asked (an answer that ended
// here meanwhile may not have ended there yet) or asking still: not those
// waiting, nor those turned away.
int TSegmentedGet::MayCount(const TSlot& refused) const {
  return static_cast<int>(std::count_if(FSlots.begin(), FSlots.end(), [&refused](const auto& s) {
    if (s.get() == &refused) return false;
    const bool asking = s->State == TSlot::ssRunning && (s->Accepted || !s->Finished);
    return asking || s->ServedUntil > refused.AskedAt;
  }));
}

void TSegmentedGet::Watch(TSlot& s, std::uint32_t now) {
  if (MinSpeed <= 0 || MinSpeedTimeMs == 0 || s.State != TSlot::ssRunning || s.Finished) return;
  const std::uint32_t elapsed = Since(s.WatchStart, now);
  if (elapsed < MinSpeedTimeMs) return;
  const std::int64_t wanted = MinSpeed * static_cast<std::int64_t>(elapsed) / 1000;
  if (s.WatchBytes < wanted) {
    Say("a connection stayed below " + std::to_string(MinSpeed) + " bytes per second for " +
        SecondsText(elapsed) + "; reopening it");
    s.Slow = true;
    s.Cli->Abort();
  }
  s.WatchStart = now;
  s.WatchBytes = 0;
}

std::int64_t TSegmentedGet::LeastHalf(std::uint32_t now) const {
  // The owner of the largest claim, which a free connection would halve.
  const TSlot* owner = nullptr;
  std::int64_t largest = -1;
  for (const auto& s : FSlots) {
    const std::optional<TByteRange> c = FPlan->ClaimOf(s->Id);
    if (c && s->State == TSlot::ssRunning && c->Size() > largest) {
      largest = c->Size();
      owner = s.get();
    }
  }
  const std::uint32_t elapsed = owner ? Since(owner->StartedAt, now) : 0;
  if (elapsed < kHalfWorthMs || owner->Got <= 0) return 0;  // its speed not known yet
  const std::int64_t speed = owner->Got * 1000 / elapsed;
  return std::max(kLeastHalf, speed * kHalfWorthMs / 1000);
}

void TSegmentedGet::StartDue(std::uint32_t now) {
  std::vector<TSlot*> starting;
  for (auto& s : FSlots) {
    if (s->State != TSlot::ssWaiting || static_cast<std::int32_t>(now - s->WaitUntil) < 0) continue;
    if (FPlan->ClaimOf(s->Id)) {
      starting.push_back(s.get());
    } else {
      s->State = TSlot::ssIdle;  // its pause is over: it takes work below
    }
  }
  // Free connections take their work before any of them asks, each an equal
  // share of what nobody owns: one that asked for all of it would be cut
  // short, and reopened, as soon as the others split its range.
  std::vector<TSlot*> free;
  for (auto& s : FSlots)
    if (s->State == TSlot::ssIdle && !FPlan->ClaimOf(s->Id)) free.push_back(s.get());
  const int room = std::max(0, FHostLimit - Open());
  int takers = std::min(room, static_cast<int>(free.size()));
  // No share below the least split: a small rest goes to fewer connections.
  if (const std::int64_t unowned = FPlan->Unowned(); unowned > 0)
    takers = static_cast<int>(std::min<std::int64_t>(takers, std::max<std::int64_t>(1, unowned / FSplit)));
  const std::int64_t leastHalf = LeastHalf(now);
  for (int i = 0; i < takers && !FPlan->Complete(); ++i) {
    const std::int64_t share = (FPlan->Unowned() + (takers - i) - 1) / (takers - i);
    if (!FPlan->Claim(free[i]->Id, share, leastHalf)) break;
    starting.push_back(free[i]);
  }
  for (TSlot* s : starting) Start(*s);
}

std::string TSegmentedGet::SaveDone() {
  FDoneChanged = false;
  if (!FHooks.SaveDone) return std::string();
  return FHooks.SaveDone(FPlan->Done());
}

TSegmentedOutcome TSegmentedGet::Run(const std::string& url) {
  TSegmentedOutcome out;
  FUrl = url;
  const std::int64_t segment = SegmentSize > 0 ? SegmentSize : MinSplit;
  FSplit = std::max<std::int64_t>(1, std::min(segment, MinSplit));
  FPlan = std::make_unique<TSegmentPlan>(FIdentity.Total, SegmentSize, FSplit);
  for (const TByteRange& d : Done) FPlan->AddDone(d);
  FHostLimit = std::clamp(Connections, 1, 32);
  FSlots.clear();
  for (int i = 0; i < FHostLimit; ++i) {
    FSlots.push_back(std::make_unique<TSlot>());
    FSlots.back()->Id = i;
  }
  if (FAdopted && !Continue(*FSlots.front())) {
    FAdopted->Abort();  // not where the plan needs it: its bytes are asked for again
    FAdopted = nullptr;
  }
  if (const std::string e = SaveDone(); !e.empty()) FLocalError = e;
  std::uint32_t lastSave = plat::GetTickCount();
  std::int64_t shownDone = -1;
  int shownOpen = -1;
  for (;;) {
    if (Stopped() || plat::ApplicationTerminated()) {
      AbortAll();
      SaveDone();  // a later run continues from here
      out.Failure = ClassifyRequest(0, "", 0, {}, true);
      return out;
    }
    FEndsAtPass = FEnds;
    for (auto& s : FSlots) {
      if (s->State != TSlot::ssRunning || !s->Finished) continue;
      if (!FOneStream.empty() || !FLocalError.empty()) break;
      if (!Finish(*s, out)) {
        AbortAll();
        SaveDone();
        return out;
      }
    }
    if (!FOneStream.empty()) {
      AbortAll();
      out.End = seOneStream;
      out.Why = FOneStream;
      return out;
    }
    if (!FLocalError.empty()) {
      AbortAll();
      out.Failure.Kind = fkLocal;
      out.Failure.Reason = FLocalError;
      return out;
    }
    if (FPlan->Complete() && Running() == 0) break;
    const std::uint32_t now = plat::GetTickCount();
    StartDue(now);
    for (auto& s : FSlots) Watch(*s, now);
    out.MostOpen = std::max(out.MostOpen, Open());
    if (Open() == 0 && !FPlan->Complete()) {
      out.Failure.Kind = fkOther;
      out.Failure.Reason = "no connection could take the rest of the file";
      return out;
    }
    if (FDoneChanged && Since(lastSave, now) >= kSaveEveryMs) {
      lastSave = now;
      if (const std::string e = SaveDone(); !e.empty()) FLocalError = e;
    }
    if (FHooks.Progress && (FPlan->DoneBytes() != shownDone || Running() != shownOpen)) {
      shownDone = FPlan->DoneBytes();
      shownOpen = Running();
      FHooks.Progress(shownDone, shownOpen);
    }
    plat::WaitForInput(20);
    plat::ProcessMessages();
  }
  if (FHooks.Progress) FHooks.Progress(FPlan->DoneBytes(), 0);
  if (::ftruncate(FFd, FIdentity.Total) != 0) {
    out.Failure.Kind = fkLocal;
    out.Failure.Reason = std::string("cannot write the file: ") + std::strerror(errno);
    return out;
  }
  out.End = seComplete;
  return out;
}
