// What the command line writes beside the progress: a notice carries the
// server's words (a retry's reason phrase) and reaches the terminal made
// printable, as the final failure line does; quiet with --yes or --no, a
// question is no news and only errors are written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/core/RetryPolicy.h"
#include "cli/CliDesktop.h"
#include "cli/CliHost.h"

namespace {

// Everything written to `f` so far.
std::string Written(std::FILE* f) {
  std::fflush(f);
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

}  // namespace

TEST(CliOutput, RetryNoticesAreMadePrintable) {
  std::FILE* err = std::tmpfile();
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(err && out);
  TCliDesktop desktop(std::nullopt, stdin, err);
  {
    TCliHost host(desktop, out, false, "/tmp");
    // A reason phrase that hides text, retitles the terminal and starts a
    // colour with the one-byte C1 introducer.
    const TTransferFailure busy =
        ClassifyRequest(429, "Slow \x1b[8mHIDDEN\x1b]0;owned\x07 \xc2\x9b" "31mred", 0, {}, false);
    host.Notice(TRetryPolicy::RetryLine(busy, 1, 3, 2));
    host.Notice("Continuing Caf\xc3\xa9.flv.part after its 10 bytes");
  }
  EXPECT_EQ(Written(err),
            "429 Slow ?[8mHIDDEN?]0;owned? ?31mred; retry 1 of 3 in 2 seconds\n"
            "Continuing Caf\xc3\xa9.flv.part after its 10 bytes\n");
  EXPECT_EQ(Written(out), "");
  {
    TCliHost quiet(desktop, out, false, "/tmp", true);
    quiet.Notice("503 Service Unavailable; retry 1 of 3 in 1 second");
  }
  EXPECT_EQ(Written(err).find("503"), std::string::npos);
  std::fclose(err);
  std::fclose(out);
}

TEST(CliOutput, QuietWithAFixedAnswerShowsErrorsOnly) {
  const plat::UINT question = plat::MB_YESNO | plat::MB_ICONINFORMATION | plat::MB_DEFBUTTON2;
  for (const int answer : {plat::IDYES, plat::IDNO}) {
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(err);
    TCliDesktop quiet(answer, stdin, err, true);
    EXPECT_EQ(quiet.MessageBox("/out/clip.flv has existed,overite it?", "Clipharbor", question), answer);
    EXPECT_EQ(Written(err), "");
    EXPECT_EQ(quiet.MessageBox("Download failed: 404 Not Found", "Clipharbor", plat::MB_OK | plat::MB_ICONERROR),
              plat::IDOK);
    EXPECT_EQ(Written(err), "Download failed: 404 Not Found\n");
    std::fclose(err);
  }
  // Without --quiet the question and its answer stay on record.
  std::FILE* err = std::tmpfile();
  ASSERT_TRUE(err);
  TCliDesktop told(plat::IDNO, stdin, err);
  EXPECT_EQ(told.MessageBox("/out/clip.flv has existed,overite it?", "Clipharbor", question), plat::IDNO);
  EXPECT_EQ(Written(err), "/out/clip.flv has existed,overite it? [y/N] no\n");
  std::fclose(err);
}
