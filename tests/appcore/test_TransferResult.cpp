// Whether a finished transfer delivered the whole body, and the reason given
// to the user when it did not.
#include "app/core/TransferResult.h"

#include <gtest/gtest.h>

namespace {

TTransferResult Complete() {
  TTransferResult r;
  r.StatusCode = 200;
  r.ReasonPhrase = "OK";
  r.ContentLength = 1000;
  r.ReceivedCount = 1000;
  return r;
}

}  // namespace

TEST(TransferResult, WholeBodyWithSuccessStatusIsNoFailure) {
  EXPECT_FALSE(TransferFailure(Complete()));
  TTransferResult byClose = Complete();
  byClose.ContentLength = -1;  // an orderly close ends such a body
  EXPECT_FALSE(TransferFailure(byClose));
  TTransferResult chunked = Complete();
  chunked.Chunked = true;
  chunked.ContentLength = 0;  // plays no part beside chunked framing
  EXPECT_FALSE(TransferFailure(chunked));
}

TEST(TransferResult, ReasonsInTheirOrder) {
  TTransferResult r = Complete();
  r.ReceivedCount = 400;
  EXPECT_EQ(TransferFailure(r), "Received 400 of 1000 bytes");
  r.StatusCode = 404;
  r.ReasonPhrase = "Not Found";
  EXPECT_EQ(TransferFailure(r), "404 Not Found");
  // The client's own error: its text, not the status it sets with it.
  r.RequestDoneError = 10054;
  r.ReasonPhrase = "Connection reset by peer (Error #10054)";
  EXPECT_EQ(TransferFailure(r), "Connection reset by peer (Error #10054)");
  r.ReasonPhrase.clear();
  EXPECT_EQ(TransferFailure(r), "Error #10054");
  r.LocalError = "No space left on device";
  EXPECT_EQ(TransferFailure(r), "No space left on device");
  // A status outside 2xx fails even with the whole body.
  TTransferResult moved = Complete();
  moved.StatusCode = 302;
  moved.ReasonPhrase = "Found";
  EXPECT_EQ(TransferFailure(moved), "302 Found");
}

TEST(TransferResult, ChunkedIsTheLastCodingInAnyCase) {
  EXPECT_TRUE(IsChunkedCoding("chunked"));
  EXPECT_TRUE(IsChunkedCoding("Chunked "));
  EXPECT_TRUE(IsChunkedCoding("gzip, CHUNKED"));
  EXPECT_FALSE(IsChunkedCoding("chunked, gzip"));
  EXPECT_FALSE(IsChunkedCoding(""));
  EXPECT_FALSE(IsChunkedCoding("xchunked"));
}
