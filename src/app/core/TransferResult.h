// How a transfer ended, in the terms of the HTTP client and the file it wrote
// to, and the judgement whether it delivered the whole body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class THttpCli;

struct TTransferResult {
  std::int32_t StatusCode = 0;
  std::string ReasonPhrase;
  std::uint16_t RequestDoneError = 0;
  std::int64_t ContentLength = -1;  // -1: none announced
  bool Chunked = false;             // the length then plays no part
  std::int64_t ReceivedCount = 0;
  // A failure on this side that the client only saw as its end: the system's
  // text of a failed write, or an answer the header handling refused.
  std::string LocalError;

  // The client's state after its request has ended.
  static TTransferResult Of(const THttpCli& client, const std::string& localError);
};

// Nothing when the body arrived whole with a success status; otherwise why
// not, for the user: the local error, the client's error text, the status
// and reason, or the count against the announced length.
std::optional<std::string> TransferFailure(const TTransferResult& result);

// True when the last coding of a Transfer-Encoding value is "chunked"
// (trimmed, any letter case).
bool IsChunkedCoding(const std::string& transferEncoding);
