// Byte streams in the manner of the framework the program was designed on:
// a polymorphic stream with 64-bit size and position, a file stream and a
// memory stream. The HTTP client writes documents into one and reads request
// bodies from one; the caller owns the stream.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace plat {

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Return the bytes moved (0 at the end or when nothing could be written).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t GetSize();
  // Cuts or extends the stream; the position is kept unless beyond the end.
  virtual void SetSize(std::int64_t newSize) = 0;

  std::int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
  // The system's error number of the last write that fell short; 0 when
  // none is known.
  virtual int LastWriteError() const { return 0; }

  // Whole-block transfers: a short transfer raises EWriteError (with the
  // system's text when the write's error is known) / EReadError.
  void WriteBuffer(const void* buffer, std::int64_t count);
  void ReadBuffer(void* buffer, std::int64_t count);
};

// Open modes (values of the framework's file modes).
constexpr unsigned fmCreate = 0xFF00;       // create or empty, read and write
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareExclusive = 0x0010;  // advisory exclusive lock
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyNone = 0x0040;
// Added to a mode: a symbolic link at the name is never opened through (the
// open fails instead).
constexpr unsigned fmNoFollow = 0x10000;

class TFileStream : public TStream {
 public:
  // Raises EFCreateError / EFOpenError with the file name and system error.
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;
  int LastWriteError() const override { return FLastWriteError; }

  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;
  int FHandle = -1;
  int FLastWriteError = 0;
};

// A file stream that gathers writes into blocks of `bufferSize` bytes, for
// data that arrives in small pieces (a download). Pieces of `directFrom`
// bytes or more (default: a whole block) go to the file at once, after what
// was gathered, so that large pieces are not copied. Reads, seeks and size
// queries see the gathered bytes. FlushBuffer raises EWriteError when the
// file takes less than given; the destructor flushes and cannot report.
class TBufferedFileStream : public TFileStream {
 public:
  TBufferedFileStream(const std::string& fileName, unsigned mode, std::size_t bufferSize = 1 << 20,
                      std::size_t directFrom = 0);
  ~TBufferedFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t newSize) override;
  void FlushBuffer();

 protected:
  // Every write to the file itself goes through here.
  virtual std::int64_t WriteThrough(const void* buffer, std::int64_t count);

 private:
  std::vector<char> FBuffer;
  std::size_t FFill = 0;
  std::size_t FDirectFrom;
};

class TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t newSize) override;

  void Clear() { FData.clear(); FPosition = 0; }
  const char* Memory() const { return FData.data(); }
  std::string DataString() const { return std::string(FData.begin(), FData.end()); }

 private:
  std::vector<char> FData;
  std::int64_t FPosition = 0;
};

}  // namespace plat
