#include "platform/Stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plat {

std::int64_t TStream::GetSize() {
  std::int64_t pos = Seek(0, soCurrent);
  std::int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

namespace {

// A full disk must read as such, not as a vague stream failure.
std::string WriteErrorText(int err) { return err != 0 ? std::strerror(err) : "Stream write error"; }

}  // namespace

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError(WriteErrorText(LastWriteError()));
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : FFileName(fileName) {
  int flags = O_CLOEXEC;
  const bool create = mode == fmCreate || (mode & 0xFF00) == fmCreate;
  const bool exclusive = (mode & 0xF0) == fmShareExclusive;
  if (create) {
    // An exclusive create empties the file only once the lock is held, so a
    // file that someone else holds keeps its bytes.
    flags |= O_RDWR | O_CREAT | (exclusive ? 0 : O_TRUNC);
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  if (mode & fmNoFollow) flags |= O_NOFOLLOW;
  FHandle = ::open(fileName.c_str(), flags, 0666);
  if (FHandle < 0) {
    int err = errno;
    std::string text = ((flags & O_CREAT) ? "Cannot create file \"" : "Cannot open file \"") + fileName +
                       "\". " +
                       ((mode & fmNoFollow) && err == ELOOP ? std::string("It is a symbolic link, which is not followed.")
                                                            : std::string(std::strerror(err)));
    if (flags & O_CREAT) throw EFCreateError(text);
    throw EFOpenError(text);
  }
  if (exclusive && ::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(err));
  }
  // An empty file is not emptied again: ext4 writes out a file that a
  // truncate emptied when it is closed, which holds up the close.
  const auto empty = [this] {
    struct stat st {};
    return ::fstat(FHandle, &st) == 0 && st.st_size == 0;
  };
  if (create && exclusive && !empty() && ::ftruncate(FHandle, 0) != 0) {
    int err = errno;
    ::close(FHandle);
    FHandle = -1;
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(err));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t done = 0;
  auto* p = static_cast<const char*>(buffer);
  FLastWriteError = 0;
  while (done < count) {
    ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FLastWriteError = errno;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void TFileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EWriteError("Stream write error");
  // No truncate to the size it has (see the constructor).
  if (TFileStream::GetSize() != newSize && ::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
    throw EWriteError("Stream write error");
  if (GetPosition() > newSize) Seek(newSize, soBeginning);
}

TBufferedFileStream::TBufferedFileStream(const std::string& fileName, unsigned mode, std::size_t bufferSize,
                                         std::size_t directFrom)
    : TFileStream(fileName, mode),
      FBuffer(bufferSize > 0 ? bufferSize : 1),
      FDirectFrom(directFrom > 0 && directFrom < FBuffer.size() ? directFrom : FBuffer.size()) {}

std::int64_t TBufferedFileStream::WriteThrough(const void* buffer, std::int64_t count) {
  return TFileStream::Write(buffer, count);
}

TBufferedFileStream::~TBufferedFileStream() {
  try {
    FlushBuffer();
  } catch (...) {
  }
}

void TBufferedFileStream::FlushBuffer() {
  if (FFill == 0) return;
  std::int64_t want = static_cast<std::int64_t>(FFill);
  std::int64_t n = WriteThrough(FBuffer.data(), want);
  if (n == want) {
    FFill = 0;
    return;
  }
  // Keep what the file did not take, so that nothing is silently lost.
  if (n > 0) {
    std::memmove(FBuffer.data(), FBuffer.data() + n, static_cast<std::size_t>(want - n));
    FFill -= static_cast<std::size_t>(n);
  }
  throw EWriteError(WriteErrorText(LastWriteError()));
}

std::int64_t TBufferedFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (static_cast<std::uint64_t>(count) >= FDirectFrom) {
    FlushBuffer();
    return WriteThrough(buffer, count);
  }
  if (FFill + static_cast<std::size_t>(count) > FBuffer.size()) FlushBuffer();
  std::memcpy(FBuffer.data() + FFill, buffer, static_cast<std::size_t>(count));
  FFill += static_cast<std::size_t>(count);
  return count;
}

std::int64_t TBufferedFileStream::Read(void* buffer, std::int64_t count) {
  FlushBuffer();
  return TFileStream::Read(buffer, count);
}

std::int64_t TBufferedFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (origin == soCurrent && offset == 0) return TFileStream::Seek(0, soCurrent) + static_cast<std::int64_t>(FFill);
  FlushBuffer();
  return TFileStream::Seek(offset, origin);
}

std::int64_t TBufferedFileStream::GetSize() {
  FlushBuffer();
  return TFileStream::GetSize();
}

void TBufferedFileStream::SetSize(std::int64_t newSize) {
  FlushBuffer();
  TFileStream::SetSize(newSize);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t size = GetSize();
  if (count <= 0 || FPosition >= size) return 0;
  std::int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = FPosition + count;
  if (end > GetSize()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : GetSize();
  std::int64_t p = base + offset;
  if (p < 0) p = 0;
  FPosition = p;
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) newSize = 0;
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

}  // namespace plat
