// Reading watch pages and building the addresses derived from a watch address.
#include "app/core/PageParse.h"

#include <gtest/gtest.h>

using namespace page;

namespace {
const std::string kTitlePrefix = "<meta name=\"title\" content=\"";
}

TEST(PageParse, TitleFoldsEscapedAmpersandsUntilNoneIsLeft) {
  EXPECT_EQ(ExtractTitle(kTitlePrefix + "Tom &amp;amp; Jerry\">"), "Tom & Jerry");
  EXPECT_EQ(ExtractTitle(kTitlePrefix + "A &amp;amp;amp; B &amp; C\">"), "A & B & C");
  EXPECT_EQ(ExtractTitle(kTitlePrefix + "plain\"> other \"quote\""), "plain");
  EXPECT_EQ(ExtractTitle(kTitlePrefix + "\">"), "");
}

TEST(PageParse, TitleNeedsMarkerInExactCaseAndClosingQuote) {
  EXPECT_FALSE(ExtractTitle(kTitlePrefix + "never closed"));
  EXPECT_FALSE(ExtractTitle("<META NAME=\"title\" content=\"x\">"));
  EXPECT_FALSE(ExtractTitle("<meta name=\"title\" content=x\">"));
  EXPECT_FALSE(ExtractTitle(""));
}

TEST(PageParse, TokenStartsAtOEgsAndEndsAtNextQuote) {
  EXPECT_EQ(ExtractToken("var a = {\"t\": \"OEgsToPDskK3zO\", \"x\": 1}"), "OEgsToPDskK3zO");
  EXPECT_EQ(ExtractToken("\"t\": \"OEgs\""), "OEgs");
  EXPECT_FALSE(ExtractToken("\"t\": \"OEgsNoQuote"));
  EXPECT_FALSE(ExtractToken("\"T\": \"OEgsX\""));
  EXPECT_FALSE(ExtractToken("\"t\": \"oegsX\""));
  EXPECT_FALSE(ExtractToken("\"t\":\"OEgsX\""));
}

TEST(PageParse, VideoIdIsEverythingAfterTheFirstEquals) {
  EXPECT_EQ(VideoIdOf("http://h/watch?v=abc"), "abc");
  EXPECT_EQ(VideoIdOf("http://h/watch?v=abc&feature=rel&x=1"), "abc&feature=rel&x=1");
  EXPECT_EQ(VideoIdOf("http://h/watch?v="), "");
  EXPECT_FALSE(VideoIdOf("http://h/watch"));
}

TEST(PageParse, GateTextsAnyCaseNotAvailableExactCase) {
  EXPECT_TRUE(HasAgeGate("... Please Verify You Are 18 Or Older ..."));
  EXPECT_FALSE(HasAgeGate("please verify you are 17 or older"));
  EXPECT_TRUE(HasBirthDateConfirmation("<h1>CONFIRM BIRTH DATE</h1>"));
  EXPECT_TRUE(IsNotAvailable("x This functionality is not available right now. y"));
  EXPECT_FALSE(IsNotAvailable("this functionality is not available right now."));
}

TEST(PageParse, LoginAddressKeepsCaseAndEncodesCredentials) {
  EXPECT_EQ(BuildLoginAddress("http://Host/Watch?V=AbC", "bob", "pw"),
            "http://Host/login?next=/Watch?V=AbC&username=bob&password=pw&action_login=Log+In");
  // "&", "#", "+", "=", "%" and blanks would end or split the query field.
  EXPECT_EQ(BuildLoginAddress("http://h/watch?v=x", "a b", "p&q#r+s=t%u"),
            "http://h/login?next=/watch?v=x&username=a%20b&password=p%26q%23r%2Bs%3Dt%25u"
            "&action_login=Log+In");
  EXPECT_EQ(PercentEncode("\xC3\xA9-._~"), "%C3%A9-._~");
  EXPECT_FALSE(BuildLoginAddress("http://h/view?v=x", "u", "p"));
}

TEST(PageParse, VerifyAgeAndGetVideoAddresses) {
  EXPECT_EQ(BuildVerifyAgeAddress("http://h:81/watch?v=x"),
            "http://h:81/verify_age?next_url=/watch?v=x&action_confirm=Confirm+Birth+Date");
  EXPECT_FALSE(BuildVerifyAgeAddress("http://h/"));
  EXPECT_EQ(BuildGetVideoAddress("127.0.0.1:8080", "x&y=1", "OEgsT"),
            "http://127.0.0.1:8080/get_video?video_id=x&y=1&t=OEgsT");
}
