#include "app/core/TransferResult.h"

#include "net/http/HttpProt.h"
#include "platform/AsciiText.h"

TTransferResult TTransferResult::Of(const THttpCli& client, const std::string& localError) {
  TTransferResult r;
  r.StatusCode = client.StatusCode();
  r.ReasonPhrase = client.ReasonPhrase();
  r.RequestDoneError = client.RequestDoneError();
  r.ContentLength = client.ContentLength();
  r.Chunked = IsChunkedCoding(client.TransferEncoding());
  r.ReceivedCount = client.ReceivedCount();
  r.LocalError = localError;
  return r;
}

bool IsChunkedCoding(const std::string& transferEncoding) {
  const std::string::size_type comma = transferEncoding.rfind(',');
  std::string last = comma == std::string::npos ? transferEncoding : transferEncoding.substr(comma + 1);
  const std::string::size_type first = last.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  last = last.substr(first, last.find_last_not_of(" \t") - first + 1);
  return ascii::EqualNoCase(last, "chunked");
}

std::optional<std::string> TransferFailure(const TTransferResult& r) {
  // A local failure explains everything after it: the client then only saw
  // the connection end.
  if (!r.LocalError.empty()) return r.LocalError;
  if (r.RequestDoneError != 0)
    return r.ReasonPhrase.empty() ? "Error #" + std::to_string(r.RequestDoneError) : r.ReasonPhrase;
  if (r.StatusCode < 200 || r.StatusCode > 299) {
    std::string text = std::to_string(r.StatusCode);
    if (!r.ReasonPhrase.empty()) text += " " + r.ReasonPhrase;
    return text;
  }
  if (!r.Chunked && r.ContentLength >= 0 && r.ReceivedCount != r.ContentLength)
    return "Received " + std::to_string(r.ReceivedCount) + " of " + std::to_string(r.ContentLength) + " bytes";
  return std::nullopt;
}
