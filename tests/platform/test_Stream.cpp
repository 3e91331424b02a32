// Byte streams: file, buffered file and memory streams keep size, position
// and contents consistent; writes that the file refuses are reported.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/Stream.h"

namespace {
std::string TempName(const char* tag) {
  return std::string("/tmp/clipharbor-stream-") + tag + "-" + std::to_string(::getpid());
}
std::string Contents(plat::TStream& s) {
  std::string out(static_cast<std::size_t>(s.GetSize()), '\0');
  s.SetPosition(0);
  s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}
}  // namespace

TEST(Stream, FileAndBufferedFileAgreeOnSizePositionAndContents) {
  for (int buffered = 0; buffered < 2; ++buffered) {
    std::string name = TempName(buffered ? "b" : "f");
    {
      std::unique_ptr<plat::TFileStream> s;
      if (buffered)
        s = std::make_unique<plat::TBufferedFileStream>(name, plat::fmCreate, 16);
      else
        s = std::make_unique<plat::TFileStream>(name, plat::fmCreate);
      s->WriteBuffer("hello ", 6);
      EXPECT_EQ(s->GetPosition(), 6);
      s->WriteBuffer("world, and a block longer than sixteen bytes", 44);
      EXPECT_EQ(s->GetSize(), 50);
      s->SetSize(11);  // cut back, as the client does before a relocation
      EXPECT_EQ(s->GetPosition(), 11);
      s->Seek(0, plat::soEnd);
      s->WriteBuffer("!", 1);
      EXPECT_EQ(Contents(*s), "hello world!");
    }
    // Everything reached the file, also what was still gathered.
    plat::TFileStream r(name, plat::fmOpenRead);
    EXPECT_EQ(Contents(r), "hello world!");
    std::remove(name.c_str());
  }
}

TEST(Stream, OpenErrorsAndRefusedWrites) {
  EXPECT_THROW(plat::TFileStream("/nonexistent-dir/x", plat::fmCreate), plat::EFCreateError);
  EXPECT_THROW(plat::TFileStream("/nonexistent-file", plat::fmOpenRead), plat::EFOpenError);
  // /dev/full takes nothing: the buffered stream reports it when it writes out.
  plat::TBufferedFileStream full("/dev/full", plat::fmOpenWrite, 8);
  full.WriteBuffer("1234", 4);
  EXPECT_THROW(full.WriteBuffer("56789", 5), plat::EWriteError);
  plat::TFileStream direct("/dev/full", plat::fmOpenWrite);
  EXPECT_THROW(direct.WriteBuffer("x", 1), plat::EWriteError);
}

TEST(Stream, MemoryStream) {
  plat::TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  m.Seek(-2, plat::soCurrent);
  m.WriteBuffer("XYZ", 3);
  EXPECT_EQ(m.DataString(), "abcdXYZ");
  m.SetSize(3);
  EXPECT_EQ(m.GetPosition(), 3);
  char c[4] = {};
  m.SetPosition(1);
  EXPECT_EQ(m.Read(c, 10), 2);
  EXPECT_STREQ(c, "bc");
  EXPECT_THROW(m.ReadBuffer(c, 1), plat::EReadError);
}

TEST(Stream, ExclusiveCreateLeavesAFileHeldElsewhereWhole) {
  std::string name = TempName("x");
  {
    plat::TFileStream s(name, plat::fmCreate);
    s.WriteBuffer("kept bytes", 10);
  }
  int holder = ::open(name.c_str(), O_RDWR);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_THROW(plat::TFileStream(name, plat::fmCreate | plat::fmShareExclusive), std::exception);
  ::close(holder);
  {
    plat::TFileStream s(name, plat::fmOpenRead);
    EXPECT_EQ(Contents(s), "kept bytes");
  }
  {
    plat::TFileStream s(name, plat::fmCreate | plat::fmShareExclusive);  // free now: emptied
    EXPECT_EQ(s.GetSize(), 0);
  }
  std::remove(name.c_str());
}
