// A refused write says why in the system's words: a full disk must not read
// as a vague stream failure (the download reports this text).
#include <gtest/gtest.h>

#include "platform/Stream.h"

TEST(StreamWriteErrors, FullDeviceGivesTheSystemsText) {
  plat::TFileStream direct("/dev/full", plat::fmOpenWrite);
  try {
    direct.WriteBuffer("x", 1);
    FAIL() << "a write to /dev/full was taken";
  } catch (const plat::EWriteError& e) {
    EXPECT_STREQ(e.what(), "No space left on device");
  }
  EXPECT_EQ(direct.LastWriteError(), ENOSPC);

  plat::TBufferedFileStream buffered("/dev/full", plat::fmOpenWrite, 8);
  buffered.WriteBuffer("1234", 4);
  try {
    buffered.WriteBuffer("56789", 5);  // the gathered bytes go out now
    FAIL() << "a write to /dev/full was taken";
  } catch (const plat::EWriteError& e) {
    EXPECT_STREQ(e.what(), "No space left on device");
  }
}
