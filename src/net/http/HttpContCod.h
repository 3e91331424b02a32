// Content-coding layer of the HTTP client: a process-wide registry of coding
// classes and, per client, a handler that builds the "Accept-Encoding:" value
// and, for each document, the chain of decoders named by Content-Encoding.
// Every body byte of a document passes through the handler; its last stage
// writes to the client's receive stream and then raises the client's
// document-data event.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plat {
class TStream;
}

class EHttpContentCodingException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A write stage: takes a block of data.
using THttpContCodWriteProc = std::function<void(const void* Data, int Len)>;

class THttpContentCoding;

// What a class reference of a coding gives: its name, its two class
// operations and its constructor. Made for a class by CodingClassOf<T>().
struct THttpContentCodingClass {
  const char* ClassName;
  bool (*IsActive)();
  std::string (*GetCoding)();
  std::unique_ptr<THttpContentCoding> (*Create)(THttpContCodWriteProc NextStage);
};

// Base of a coding; one instance decodes one document.
// A derived class declares `static constexpr const char* ClassName`, and may
// hide IsActive and GetCoding with its own static versions.
class THttpContentCoding {
 public:
  static constexpr const char* ClassName = "THttpContentCoding";
  // Whether the coding may be offered.
  static bool IsActive() { return true; }
  // The token: the rest of ClassName after the prefix "THttpContentCoding";
  // raises EHttpContentCodingException for a name without that prefix.
  static std::string GetCoding(std::string_view ClassName);

  explicit THttpContentCoding(THttpContCodWriteProc NextStage);
  virtual ~THttpContentCoding() = default;
  THttpContentCoding(const THttpContentCoding&) = delete;
  THttpContentCoding& operator=(const THttpContentCoding&) = delete;

  // The document has ended.
  virtual void Complete() {}
  // Takes a block of coded data and hands decoded data to the next stage.
  virtual void WriteBuffer(const void* Data, int Len) = 0;

 protected:
  THttpContCodWriteProc FNextStage;
};

template <class T>
const THttpContentCodingClass* CodingClassOf() {
  static const THttpContentCodingClass cls{
      T::ClassName,
      [] { return T::IsActive(); },
      [] { return T::GetCoding(T::ClassName); },
      [](THttpContCodWriteProc next) -> std::unique_ptr<THttpContentCoding> {
        return std::make_unique<T>(std::move(next));
      }};
  return &cls;
}

// "identity" and "*": no transformation, the data goes on unchanged.
class THttpCCodIdentity : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "THttpCCodIdentity";
  static std::string GetCoding(std::string_view) { return "identity"; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void* Data, int Len) override;
};

class THttpCCodStar : public THttpContentCoding {
 public:
  static constexpr const char* ClassName = "THttpCCodStar";
  static std::string GetCoding(std::string_view) { return "*"; }
  using THttpContentCoding::THttpContentCoding;
  void WriteBuffer(const void* Data, int Len) override;
};

// The registry: coding classes with their default quality, in order of
// registration. One instance per process, made on first use with
// THttpCCodIdentity and THttpCCodStar (quality 0 each).
class TContCodingsList {
 public:
  struct TEntry {
    const THttpContentCodingClass* CodingClass;
    float Quality;
  };
  void Add(const THttpContentCodingClass* CodingClass, float Quality);
  const std::vector<TEntry>& Items() const { return FItems; }

 private:
  std::vector<TEntry> FItems;
};

TContCodingsList& ContentCodings();

// Appends an entry to the registry.
void RegisterContentCoding(const THttpContentCodingClass* CodingClass, float Quality);
// The last registered class whose token equals Token without regard to
// (ASCII) case, or nullptr.
const THttpContentCodingClass* FindContentCoding(const std::string& Token);

// Quality as "0.###" with "." whatever the locale.
std::string FormatCodingQuality(float Quality);

// Per handler and per registered coding.
struct THttpContCodItem {
  const THttpContentCodingClass* CodingClass = nullptr;
  bool FEnabled = true;
  float Quality = 0;
  bool Active() const { return FEnabled && CodingClass->IsActive(); }
};

class THttpContCodHandler {
 public:
  // StreamWrite writes a block to the client's receive stream current at the
  // time of the call (it does nothing when there is none, and raises on a
  // short write); OutputWriteBuffer is the client's document-data event.
  THttpContCodHandler(THttpContCodWriteProc StreamWrite,
                      THttpContCodWriteProc OutputWriteBuffer);
  // The same with a reference to the client's ReceiveStream member: each
  // block goes whole into the stream current at the time of the write
  // (WriteBuffer, which raises on a short write), when there is one.
  THttpContCodHandler(plat::TStream* const* ReceiveStream,
                      THttpContCodWriteProc OutputWriteBuffer);
  ~THttpContCodHandler();
  THttpContCodHandler(const THttpContCodHandler&) = delete;
  THttpContCodHandler& operator=(const THttpContCodHandler&) = delete;

  // "Accept-Encoding:" value; empty when not enabled.
  std::string HeaderValue();
  // Builds the decoder chain of a document; false when some token is not
  // registered (the document then passes unchanged).
  bool Prepare(const std::string& ContentEncoding);
  // Entry for body data: the first decoder of the chain or the pass-through.
  void InputWriteBuffer(const void* Data, int Len) { FInputWriteBuffer(Data, Len); }
  // End of a document: Complete on each coding, last added first.
  void Complete();

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  bool UseQuality() const { return FUseQuality; }
  void SetUseQuality(bool Value);

  std::vector<THttpContCodItem>& CodingParams() { return FCodingParams; }
  // Number of decoders in the current chain.
  std::size_t ChainLength() const { return FCodingList.size(); }

 private:
  void PassThrough(const void* Data, int Len);
  void ClearChain();

  THttpContCodWriteProc FStreamWrite;
  THttpContCodWriteProc FInputWriteBuffer;
  THttpContCodWriteProc FOutputWriteBuffer;
  std::string FHeaderText;
  bool FRecalcHeader = true;
  bool FEnabled = false;
  bool FUseQuality = false;
  std::vector<std::unique_ptr<THttpContentCoding>> FCodingList;
  std::vector<THttpContCodItem> FCodingParams;
};
