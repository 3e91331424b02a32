#include "net/http/HttpContCod.h"

#include "platform/AsciiText.h"
#include "platform/Stream.h"

#include <cmath>

namespace {

// Splits at commas and blanks; double quotes group (a doubled quote inside
// stands for one quote).
std::vector<std::string> SplitTokens(const std::string& s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ',' || c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    std::string tok;
    while (i < s.size() && s[i] != ',' && s[i] != ' ' && s[i] != '\t') {
      if (s[i] == '"') {
        ++i;
        while (i < s.size()) {
          if (s[i] == '"') {
            if (i + 1 < s.size() && s[i + 1] == '"') {
              tok += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          tok += s[i++];
        }
      } else {
        tok += s[i++];
      }
    }
    out.push_back(tok);
  }
  return out;
}

}  // namespace

std::string THttpContentCoding::GetCoding(std::string_view ClassName) {
  constexpr std::string_view kPrefix = "THttpContentCoding";
  if (ClassName.substr(0, kPrefix.size()) == kPrefix)
    return std::string(ClassName.substr(kPrefix.size()));
  throw EHttpContentCodingException("GetCoding must be overriden in " + std::string(ClassName));
}

THttpContentCoding::THttpContentCoding(THttpContCodWriteProc NextStage)
    : FNextStage(std::move(NextStage)) {}

void THttpCCodIdentity::WriteBuffer(const void* Data, int Len) {
  if (FNextStage) FNextStage(Data, Len);
}

void THttpCCodStar::WriteBuffer(const void* Data, int Len) {
  if (FNextStage) FNextStage(Data, Len);
}

void TContCodingsList::Add(const THttpContentCodingClass* CodingClass, float Quality) {
  FItems.push_back(TEntry{CodingClass, Quality});
}

TContCodingsList& ContentCodings() {
  static TContCodingsList list = [] {
    TContCodingsList l;
    l.Add(CodingClassOf<THttpCCodIdentity>(), 0);
    l.Add(CodingClassOf<THttpCCodStar>(), 0);
    return l;
  }();
  return list;
}

void RegisterContentCoding(const THttpContentCodingClass* CodingClass, float Quality) {
  ContentCodings().Add(CodingClass, Quality);
}

const THttpContentCodingClass* FindContentCoding(const std::string& Token) {
  const auto& items = ContentCodings().Items();
  for (auto it = items.rbegin(); it != items.rend(); ++it)
    if (ascii::EqualNoCase(it->CodingClass->GetCoding(), Token)) return it->CodingClass;
  return nullptr;
}

std::string FormatCodingQuality(float Quality) {
  double q = static_cast<double>(Quality);
  if (!std::isfinite(q)) q = 0;
  bool negative = q < 0;
  long long n = std::llround(std::fabs(q) * 1000.0);
  if (n == 0) negative = false;
  std::string s = (negative ? "-" : "") + std::to_string(n / 1000);
  int frac = static_cast<int>(n % 1000);
  if (frac != 0) {
    std::string f = std::to_string(1000 + frac).substr(1);  // three digits
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += '.' + f;
  }
  return s;
}

THttpContCodHandler::THttpContCodHandler(THttpContCodWriteProc StreamWrite,
                                         THttpContCodWriteProc OutputWriteBuffer)
    : FStreamWrite(std::move(StreamWrite)), FOutputWriteBuffer(std::move(OutputWriteBuffer)) {
  FInputWriteBuffer = [this](const void* d, int n) { PassThrough(d, n); };
  for (const auto& e : ContentCodings().Items())
    FCodingParams.push_back(THttpContCodItem{e.CodingClass, true, e.Quality});
}

THttpContCodHandler::THttpContCodHandler(plat::TStream* const* ReceiveStream,
                                         THttpContCodWriteProc OutputWriteBuffer)
    : THttpContCodHandler(
          [ReceiveStream](const void* d, int n) {
            if (ReceiveStream && *ReceiveStream) (*ReceiveStream)->WriteBuffer(d, n);
          },
          std::move(OutputWriteBuffer)) {}

THttpContCodHandler::~THttpContCodHandler() = default;

void THttpContCodHandler::SetUseQuality(bool Value) {
  if (Value != FUseQuality) FRecalcHeader = true;
  FUseQuality = Value;
}

std::string THttpContCodHandler::HeaderValue() {
  if (!FEnabled) return std::string();
  if (FRecalcHeader) {
    bool withQuality = false;
    if (FUseQuality) {
      int active = 0;
      for (const auto& item : FCodingParams)
        if (item.Active()) ++active;
      withQuality = active >= 2;
    }
    std::string value;
    for (const auto& item : FCodingParams) {
      if (!item.Active()) continue;
      std::string token = item.CodingClass->GetCoding();
      if (withQuality) {
        if (!value.empty()) value += ", ";
        value += token + ";q=" + FormatCodingQuality(item.Quality);
      } else if (item.Quality > 0) {
        if (!value.empty()) value += ", ";
        value += token;
      }
    }
    FHeaderText = value;
    FRecalcHeader = false;
  }
  return FHeaderText;
}

void THttpContCodHandler::ClearChain() {
  FInputWriteBuffer = [this](const void* d, int n) { PassThrough(d, n); };
  FCodingList.clear();
}

bool THttpContCodHandler::Prepare(const std::string& ContentEncoding) {
  ClearChain();
  if (!FEnabled || ContentEncoding.empty()) return true;
  for (const std::string& token : SplitTokens(ContentEncoding)) {
    const THttpContentCodingClass* cls = FindContentCoding(token);
    if (!cls) {
      ClearChain();
      return false;
    }
    std::unique_ptr<THttpContentCoding> coding = cls->Create(FInputWriteBuffer);
    THttpContentCoding* raw = coding.get();
    FCodingList.push_back(std::move(coding));
    FInputWriteBuffer = [raw](const void* d, int n) { raw->WriteBuffer(d, n); };
  }
  return true;
}

void THttpContCodHandler::Complete() {
  for (auto it = FCodingList.rbegin(); it != FCodingList.rend(); ++it) (*it)->Complete();
}

void THttpContCodHandler::PassThrough(const void* Data, int Len) {
  if (FStreamWrite) FStreamWrite(Data, Len);
  if (FOutputWriteBuffer) FOutputWriteBuffer(Data, Len);
}
