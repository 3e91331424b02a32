// A request on a machine without a route to the server fails at once instead of waiting.
#include <gtest/gtest.h>

#include <chrono>

#include "http/HttpPeer.h"
#include "support/NetNamespace.h"

using namespace httptest;

TEST(HttpNoRoute, GetFailsWithTheSystemsReason) {
  if (!netns::InEmptyNetNamespace()) return;
  RecordingClient rc;
  rc.cli.URL = "http://127.0.0.1:8080/x";
  ASSERT_TRUE(rc.RunAsync(5000)) << "the request never ended";
  EXPECT_EQ(rc.doneError, 10051);
  EXPECT_EQ(rc.cli.StatusCode(), 404);
  EXPECT_EQ(rc.cli.ReasonPhrase(), "Network is unreachable (Error #10051)");
  EXPECT_EQ(rc.cli.State(), httpReady);

  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(rc.cli.Get(), EHttpException);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
