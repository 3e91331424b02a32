// The ".part" file of a download: small pieces are gathered and large ones
// written at once, a write that fails keeps the system's text, whether it
// fails at the piece itself or at the final flush, and a symbolic link at
// the name is never written through.
#include "app/core/DownloadFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/E2eSupport.h"
#include "support/FileSizeLimit.h"

namespace {

std::uintmax_t OnDisk(const std::string& path) { return std::filesystem::file_size(path); }

std::string Pattern(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

}  // namespace

TEST(DownloadFile, SmallPiecesAreGatheredLargeOnesGoToTheFileAtOnce) {
  e2e::TTempDir dir;
  const std::string path = dir / "clip.flv.part";
  const std::string small = Pattern(1000, 'a');
  const std::string large = Pattern(TDownloadFile::kDirectFrom, 'b');
  {
    TDownloadFile f(path);
    f.WriteBuffer(small.data(), static_cast<std::int64_t>(small.size()));
    EXPECT_EQ(OnDisk(path), 0u);
    f.WriteBuffer(large.data(), static_cast<std::int64_t>(large.size()));
    EXPECT_EQ(OnDisk(path), small.size() + large.size());  // in order: the gathered bytes first
    f.WriteBuffer(small.data(), static_cast<std::int64_t>(small.size()));
    EXPECT_EQ(f.GetPosition(), static_cast<std::int64_t>(2 * small.size() + large.size()));
    f.FlushBuffer();
    EXPECT_TRUE(f.WriteError().empty());
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_TRUE(got.str() == small + large + small);
}

TEST(DownloadFile, FailedWritesKeepTheSystemsText) {
  e2e::TTempDir dir;
  const std::string piece = Pattern(3000, 'c');
  {
    // Gathered pieces fail only when they are written out at the end.
    const std::string path = dir / "gathered.part";
    TDownloadFile f(path);
    testsupport::TFileSizeLimit limit(4096);
    f.WriteBuffer(piece.data(), 3000);
    f.WriteBuffer(piece.data(), 3000);
    EXPECT_TRUE(f.WriteError().empty());
    EXPECT_THROW(f.FlushBuffer(), plat::EWriteError);
    EXPECT_EQ(f.WriteError(), "File too large");
    EXPECT_EQ(OnDisk(path), 4096u);
  }
  {
    // A large piece fails at once.
    const std::string large = Pattern(TDownloadFile::kDirectFrom, 'd');
    TDownloadFile f(dir / "direct.part");
    testsupport::TFileSizeLimit limit(4096);
    EXPECT_THROW(f.WriteBuffer(large.data(), static_cast<std::int64_t>(large.size())), plat::EWriteError);
    EXPECT_EQ(f.WriteError(), "File too large");
  }
}

TEST(DownloadFile, ASymbolicLinkAtTheNameIsNeverWrittenThrough) {
  e2e::TTempDir dir;
  const std::string victim = dir / "letter.txt";
  const std::string path = dir / "clip.flv.part";
  e2e::WriteFile(victim, "the user's own words");
  const std::string piece = Pattern(5000, 'd');

  // Continued, the file would be the link's target: it fails to open.
  std::filesystem::create_symlink(victim, path);
  try {
    TDownloadFile f(path, true);
    ADD_FAILURE() << "opened through the link";
  } catch (const plat::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + path + "\". It is a symbolic link, which is not followed.");
  }
  EXPECT_TRUE(std::filesystem::is_symlink(path));

  // Started afresh, a file of its own replaces the link.
  {
    TDownloadFile f(path);
    f.WriteBuffer(piece.data(), static_cast<std::int64_t>(piece.size()));
    f.FlushBuffer();
  }
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_TRUE(e2e::ReadFile(path) == piece);
  EXPECT_EQ(e2e::ReadFile(victim), "the user's own words");

  // A link that points nowhere is no file to create either.
  std::filesystem::remove(path);
  std::filesystem::create_symlink(dir / "made-by-the-link", path);
  { TDownloadFile f(path); }
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_FALSE(e2e::Exists(dir / "made-by-the-link"));
}
