// The command line loads no widget toolkit: neither Qt Widgets nor Qt Gui
// nor D-Bus is among the libraries the dynamic loader maps for it. OpenSSL
// is not either: it is loaded by the first TLS connection (the https tests
// show that it then is), so a plain download does not carry it.
#include <gtest/gtest.h>

#include "cli/E2eSupport.h"

using namespace e2e;

TEST(CliLinkage, NoWidgetsGuiOrDBus) {
  TRunResult r = RunProcess({"ldd", BinaryDir() + "/clipharbor-cli"}, Environment({}));
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  // The list is a real one: the event loop's library is on it.
  EXPECT_NE(r.Out.find("libQt6Core.so"), std::string::npos) << r.Out;
  for (const char* lib : {"libQt6Widgets", "libQt6Gui", "libQt6DBus", "libdbus-1", "libssl", "libcrypto"})
    EXPECT_EQ(r.Out.find(lib), std::string::npos) << lib << " is loaded:\n" << r.Out;
}
