// Several jobs from one text: how a paste is split, what kind of job each
// piece is and in which mode it runs, and the words of the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "app/core/DirectTarget.h"
#include "app/core/JobInputs.h"

namespace {

// The service at its default host for the life of a test.
class DefaultService {
 public:
  DefaultService() {
    if (const char* v = std::getenv("CLIPHARBOR_SERVICE")) saved_ = v, had_ = true;
    ::unsetenv("CLIPHARBOR_SERVICE");
  }
  ~DefaultService() {
    if (had_) ::setenv("CLIPHARBOR_SERVICE", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
  bool had_ = false;
};

using Inputs = std::vector<std::string>;

}  // namespace

TEST(JobInputs, LinesThenBlanksAndFilesWithBlanksStayWhole) {
  const std::set<std::string> files{"/home/u/My Videos/a clip.flv"};
  const auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_EQ(SplitJobInputs("http://a/1 http://b/2\r\n\n  http://c/3\t http://d/4  \r /x.flv", exists),
            (Inputs{"http://a/1", "http://b/2", "http://c/3", "http://d/4", "/x.flv"}));
  EXPECT_EQ(SplitJobInputs("  /home/u/My Videos/a clip.flv \nhttp://a/1", exists),
            (Inputs{"/home/u/My Videos/a clip.flv", "http://a/1"}));
  // A missing file with blanks in its name is split like any line.
  EXPECT_EQ(SplitJobInputs("/home/u/My Videos/b.flv", exists), (Inputs{"/home/u/My", "Videos/b.flv"}));
  EXPECT_TRUE(SplitJobInputs(" \r\n\t ", exists).empty());
  EXPECT_TRUE(SplitJobInputs("", nullptr).empty());
  EXPECT_EQ(SplitJobInputs("one", nullptr), (Inputs{"one"}));
}

// A box holds several jobs only when more than one piece is an address, a
// path or a file; a stray word after one address leaves the text whole.
TEST(JobInputs, SeveralOnlyWithMoreThanOneAddressOrFile) {
  const std::set<std::string> files{"clip.flv", "/v/My Videos/a clip.flv"};
  const auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_EQ(SeveralJobInputs("http://a/1 http://b/2", exists), (Inputs{"http://a/1", "http://b/2"}));
  EXPECT_EQ(SeveralJobInputs("http://a/1\nftp://b/2", exists), (Inputs{"http://a/1", "ftp://b/2"}));
  EXPECT_EQ(SeveralJobInputs("http://a/1 clip.flv", exists), (Inputs{"http://a/1", "clip.flv"}));
  EXPECT_EQ(SeveralJobInputs("http://a/1 /tmp/missing.flv", exists), (Inputs{"http://a/1", "/tmp/missing.flv"}));
  // Every piece comes back, the stray ones too, for the checks before any job runs.
  EXPECT_EQ(SeveralJobInputs("http://a/1 word http://b/2", exists), (Inputs{"http://a/1", "word", "http://b/2"}));
  EXPECT_TRUE(SeveralJobInputs("http://a/1/watch?v=x watch", exists).empty());
  EXPECT_TRUE(SeveralJobInputs("http://a/1", exists).empty());
  EXPECT_TRUE(SeveralJobInputs("/v/My Videos/a clip.flv", exists).empty());
  EXPECT_TRUE(SeveralJobInputs("missing.flv other.flv", exists).empty());
  EXPECT_TRUE(SeveralJobInputs("", nullptr).empty());
}

TEST(JobInputs, KindsAndModes) {
  DefaultService service;
  EXPECT_EQ(KindOfInput("http://www.youtube.com/watch?v=abc"), ikWatchPage);
  EXPECT_EQ(KindOfInput("HTTPS://www.YouTube.com/watch?v=abc"), ikWatchPage);
  EXPECT_EQ(KindOfInput("https://files.example/clip.flv"), ikDirect);
  EXPECT_EQ(KindOfInput("http://10.0.0.1:8080/get?id=1"), ikDirect);
  // Any other address is a file, as on the command line.
  EXPECT_EQ(KindOfInput("http://www.youtube.com/get_video?video_id=1&t=2"), ikDirect);
  // Meant as a watch page but none: another site's watch page, a blank
  // before the scheme, another scheme.
  for (const char* wrong : {"http://vimeo.com/watch?v=1",
                            " http://www.youtube.com/watch?v=x", "ftp://host/clip.flv", "file:///tmp/x.flv"})
    EXPECT_EQ(KindOfInput(wrong), ikWrongAddress) << wrong;
  EXPECT_EQ(KindOfInput("/tmp/clip.mp4"), ikLocalFile);
  EXPECT_EQ(KindOfInput("clip.flv"), ikLocalFile);

  for (TJobMode windowMode : {TJobMode::jmDownload, TJobMode::jmDownloadConvert, TJobMode::jmConvertFile})
    EXPECT_EQ(JobModeFor(ikLocalFile, windowMode), TJobMode::jmConvertFile);
  EXPECT_EQ(JobModeFor(ikWatchPage, TJobMode::jmDownload), TJobMode::jmDownload);
  EXPECT_EQ(JobModeFor(ikDirect, TJobMode::jmDownloadConvert), TJobMode::jmDownloadConvert);
  // An address among files is converted too.
  EXPECT_EQ(JobModeFor(ikDirect, TJobMode::jmConvertFile), TJobMode::jmDownloadConvert);

  // https watch pages are pages, not files, for the command line too.
  EXPECT_TRUE(IsWatchPageAddress("https://www.youtube.com/watch?v=1"));
  EXPECT_FALSE(IsDirectAddress("https://www.youtube.com/watch?v=1"));
  EXPECT_TRUE(IsDirectAddress("https://www.youtube.com/get_video?video_id=1"));
}

TEST(JobInputs, SummaryAndPlace) {
  TJobOutcome saved{"a", TJobMode::jmDownloadConvert, {"/o/a.flv", "/o/a.mp3"}, ""};
  TJobOutcome failed{"b", TJobMode::jmDownload, {}, "Download failed: 404 Not Found"};
  TJobOutcome convertedOnly{"c", TJobMode::jmConvertFile, {"/o/c.mp3"}, ""};
  EXPECT_EQ(OutcomeSummary({saved}), "2 files saved");
  EXPECT_EQ(OutcomeSummary({convertedOnly}), "1 file saved");
  EXPECT_EQ(OutcomeSummary({failed}), "Failed");
  EXPECT_EQ(OutcomeSummary({saved, failed, convertedOnly}), "1 of 3 jobs failed, 3 files saved");
  EXPECT_EQ(OutcomeSummary({failed, failed}), "2 of 2 jobs failed");
  EXPECT_EQ(QueuePlace(1, 5), "2 of 5");
}
