#include "net/http/HttpContCod.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <locale>
#include <string>
#include <vector>

namespace {

std::vector<std::string> gCompleteLog;

// Test codings are registered as inactive, so that handlers made by other
// tests in this process offer exactly the two standard codings.
class THttpContentCodingXUpper : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "THttpContentCodingXUpper";
  static bool IsActive() { return false; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void* Data, int Len) override {
    std::string s(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    FNextStage(s.data(), Len);
  }
};

class TTestDouble : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "TTestDouble";
  static bool IsActive() { return false; }
  static std::string GetCoding(std::string_view) { return "x-double"; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void* Data, int Len) override {
    std::string s;
    for (int i = 0; i < Len; ++i) s.append(2, static_cast<const char*>(Data)[i]);
    FNextStage(s.data(), static_cast<int>(s.size()));
  }
  void Complete() override { gCompleteLog.push_back("double"); }
};

class TTestTag : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "TTestTag";
  static bool IsActive() { return false; }
  static std::string GetCoding(std::string_view) { return "x-tag"; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void* Data, int Len) override {
    std::string s(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
    s += '#';
    FNextStage(s.data(), static_cast<int>(s.size()));
  }
  void Complete() override { gCompleteLog.push_back("tag"); }
};

class TTestNoToken : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "TTestNoToken";
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void*, int) override {}
};

class TLate : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "THttpContentCodingLate";
  static bool IsActive() { return false; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void*, int) override {}
};

void RegisterTestCodings() {
  static bool done = [] {
    RegisterContentCoding(CodingClassOf<THttpContentCodingXUpper>(), 1);
    RegisterContentCoding(CodingClassOf<TTestDouble>(), 1);
    RegisterContentCoding(CodingClassOf<TTestTag>(), 1);
    return true;
  }();
  (void)done;
}

// A client stand-in: its receive stream member and its document-data event.
struct FakeClient {
  plat::TStream* ReceiveStream = nullptr;
  std::string DocData;
  std::vector<std::int64_t> StreamSizeAtDocData;
  THttpContCodHandler Handler{&ReceiveStream, [this](const void* d, int n) {
                                DocData.append(static_cast<const char*>(d), static_cast<std::size_t>(n));
                                StreamSizeAtDocData.push_back(ReceiveStream ? ReceiveStream->GetSize() : -1);
                              }};
  void Body(const std::string& s) { Handler.InputWriteBuffer(s.data(), static_cast<int>(s.size())); }
};

class ShortWriteStream : public plat::TMemoryStream {
 public:
  std::int64_t Write(const void* b, std::int64_t n) override {
    return plat::TMemoryStream::Write(b, n > 1 ? n - 1 : n);
  }
};

struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

}  // namespace

TEST(ContentCoding, AcceptEncodingValueFollowsTheOptions) {
  FakeClient c;
  EXPECT_EQ(c.Handler.HeaderValue(), "");  // the program's setting: no line
  c.Handler.SetEnabled(true);
  EXPECT_EQ(c.Handler.HeaderValue(), "");  // both qualities are 0
  c.Handler.SetUseQuality(true);
  EXPECT_EQ(c.Handler.HeaderValue(), "identity;q=0, *;q=0");
  c.Handler.SetEnabled(false);
  EXPECT_EQ(c.Handler.HeaderValue(), "");
}

TEST(ContentCoding, QualitiesAreListedOnlyForActiveItemsAndAboveZeroWithoutQualities) {
  FakeClient c;
  c.Handler.SetEnabled(true);
  c.Handler.CodingParams().at(1).Quality = 0.5f;
  EXPECT_EQ(c.Handler.HeaderValue(), "*");
  c.Handler.SetUseQuality(true);  // marks the cache for rebuilding
  EXPECT_EQ(c.Handler.HeaderValue(), "identity;q=0, *;q=0.5");
  // With fewer than two active items no qualities are written.
  c.Handler.CodingParams().at(0).FEnabled = false;
  c.Handler.SetUseQuality(false);
  c.Handler.SetUseQuality(true);
  EXPECT_EQ(c.Handler.HeaderValue(), "*");
}

TEST(ContentCoding, QualityFormatIgnoresTheLocaleDecimalSeparator) {
  std::locale old = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  EXPECT_EQ(FormatCodingQuality(0.5f), "0.5");
  std::locale::global(old);
  EXPECT_EQ(FormatCodingQuality(0), "0");
  EXPECT_EQ(FormatCodingQuality(1), "1");
  EXPECT_EQ(FormatCodingQuality(0.1f), "0.1");
  EXPECT_EQ(FormatCodingQuality(0.125f), "0.125");
  EXPECT_EQ(FormatCodingQuality(0.3333f), "0.333");
  EXPECT_EQ(FormatCodingQuality(0.9996f), "1");
}

TEST(ContentCoding, WithoutContentCodingTheBodyPassesUnchangedStreamFirst) {
  FakeClient c;
  plat::TMemoryStream s;
  c.ReceiveStream = &s;
  EXPECT_TRUE(c.Handler.Prepare("gzip"));
  EXPECT_EQ(c.Handler.ChainLength(), 0u);
  c.Body("abc");
  c.Body("de");
  EXPECT_EQ(s.DataString(), "abcde");
  EXPECT_EQ(c.DocData, "abcde");
  // The stream holds each block before the event sees it.
  EXPECT_EQ(c.StreamSizeAtDocData, (std::vector<std::int64_t>{3, 5}));
}

TEST(ContentCoding, TheStreamCurrentAtEachWriteIsUsed) {
  FakeClient c;
  c.Body("x");  // no stream: only the event
  plat::TMemoryStream a, b;
  c.ReceiveStream = &a;
  c.Body("first");
  c.ReceiveStream = &b;
  c.Body("second");
  EXPECT_EQ(a.DataString(), "first");
  EXPECT_EQ(b.DataString(), "second");
  EXPECT_EQ(c.DocData, "xfirstsecond");
}

TEST(ContentCoding, AShortStreamWriteRaisesBeforeTheEvent) {
  FakeClient c;
  ShortWriteStream s;
  c.ReceiveStream = &s;
  EXPECT_THROW(c.Body("abcd"), plat::EWriteError);
  EXPECT_EQ(c.DocData, "");
}

TEST(ContentCoding, UnregisteredTokenAbandonsTheChain) {
  RegisterTestCodings();
  FakeClient c;
  c.Handler.SetEnabled(true);
  EXPECT_FALSE(c.Handler.Prepare("gzip"));
  EXPECT_EQ(c.Handler.ChainLength(), 0u);
  EXPECT_FALSE(c.Handler.Prepare("x-double, gzip"));
  EXPECT_EQ(c.Handler.ChainLength(), 0u);
  c.Body("ab");
  EXPECT_EQ(c.DocData, "ab");
}

TEST(ContentCoding, TheLastListedCodingSeesTheDataFirst) {
  RegisterTestCodings();
  FakeClient c;
  c.Handler.SetEnabled(true);
  ASSERT_TRUE(c.Handler.Prepare("x-double, x-tag"));
  EXPECT_EQ(c.Handler.ChainLength(), 2u);
  c.Body("ab");
  EXPECT_EQ(c.DocData, "aabb##");
  gCompleteLog.clear();
  c.Handler.Complete();
  EXPECT_EQ(gCompleteLog, (std::vector<std::string>{"tag", "double"}));

  // Quotes group, blanks and commas separate, tokens compare without case.
  c.DocData.clear();
  ASSERT_TRUE(c.Handler.Prepare("\"X-TAG\"  x-Double"));
  c.Body("ab");
  EXPECT_EQ(c.DocData, "aabb#");
  // A new document starts with a fresh chain.
  c.DocData.clear();
  ASSERT_TRUE(c.Handler.Prepare(""));
  EXPECT_EQ(c.Handler.ChainLength(), 0u);
  c.Body("ab");
  EXPECT_EQ(c.DocData, "ab");
}

TEST(ContentCoding, IdentityAndStarPassDataOnUnchanged) {
  FakeClient c;
  plat::TMemoryStream s;
  c.ReceiveStream = &s;
  c.Handler.SetEnabled(true);
  ASSERT_TRUE(c.Handler.Prepare("identity, *"));
  EXPECT_EQ(c.Handler.ChainLength(), 2u);
  c.Body(std::string("a\0b", 3));
  EXPECT_EQ(c.DocData, std::string("a\0b", 3));
  EXPECT_EQ(s.DataString(), std::string("a\0b", 3));
}

TEST(ContentCoding, RegistryTokensAndLookup) {
  RegisterTestCodings();
  EXPECT_EQ(CodingClassOf<THttpCCodIdentity>()->GetCoding(), "identity");
  EXPECT_EQ(CodingClassOf<THttpCCodStar>()->GetCoding(), "*");
  // The base derives the token from the class name prefix.
  EXPECT_EQ(CodingClassOf<THttpContentCodingXUpper>()->GetCoding(), "XUpper");
  EXPECT_EQ(FindContentCoding("xupper"), CodingClassOf<THttpContentCodingXUpper>());
  EXPECT_EQ(FindContentCoding("IDENTITY"), CodingClassOf<THttpCCodIdentity>());
  EXPECT_EQ(FindContentCoding("gzip"), nullptr);
  EXPECT_EQ(FindContentCoding(""), nullptr);
  try {
    CodingClassOf<TTestNoToken>()->GetCoding();
    ADD_FAILURE() << "no exception";
  } catch (const EHttpContentCodingException& e) {
    EXPECT_STREQ(e.what(), "GetCoding must be overriden in TTestNoToken");
  }
  const auto& items = ContentCodings().Items();
  ASSERT_GE(items.size(), 2u);
  EXPECT_EQ(items[0].CodingClass, CodingClassOf<THttpCCodIdentity>());
  EXPECT_EQ(items[1].CodingClass, CodingClassOf<THttpCCodStar>());
}

TEST(ContentCoding, HandlersKeepTheCodingsRegisteredWhenTheyWereMade) {
  RegisterTestCodings();
  FakeClient before;
  std::size_t n = before.Handler.CodingParams().size();
  RegisterContentCoding(CodingClassOf<TLate>(), 0.25f);
  FakeClient after;
  EXPECT_EQ(before.Handler.CodingParams().size(), n);
  ASSERT_EQ(after.Handler.CodingParams().size(), n + 1);
  EXPECT_FLOAT_EQ(after.Handler.CodingParams().back().Quality, 0.25f);
}
