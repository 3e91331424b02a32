// The numbers a THttpCli request ends with, named: OnRequestDone's ErrCode
// and RequestDoneError(). They share one 16-bit space: 0 is success, 3 to
// 14 are the client's own, 10xxx and 11xxx are the system's socket errors as
// the socket layer reports them, 200xx are SOCKS failures (socks* in
// SocksWSocket.h) and 201xx TLS failures (ssl* in SslWSocket.h). Callers
// above the socket layer compare with these names, never with numbers.
//
// EHttpException::ErrorCode holds one of these, an answer's status (400 and
// up) or a refusal code of the call itself (kBusy ... kBadAuthState).
#pragma once

#include <cstdint>

#include "net/socket/SocksWSocket.h"
#include "net/socket/SslWSocket.h"
#include "platform/WinsockApi.h"

namespace httperr {

// The client's own request-done codes.
constexpr std::uint16_t kAborted = 3;      // Abort() ended the request
constexpr std::uint16_t kIncomplete = 4;   // connection closed before the answer's end
constexpr std::uint16_t kBadChunk = 5;     // chunk size without a digit or beyond 64 bits
constexpr std::uint16_t kWriteFailed = 7;  // the receive stream refused the body
constexpr std::uint16_t kBadLength = 8;    // Content-Length lines that disagree
constexpr std::uint16_t kBadTarget = 9;    // an address or Location with a line break
constexpr std::uint16_t kHeaderTooLarge = 11;       // a header line or block beyond its cap
constexpr std::uint16_t kTooManyRelocations = 12;   // beyond LocationChangeMaxCount
constexpr std::uint16_t kBadRelocation = 13;        // a Location to a scheme other than http(s)
constexpr std::uint16_t kTlsTruncated = 14;         // a body to the close ended without close_notify

// Refusals raised at once by a call, before any request runs. 5 is also
// kBadChunk: which one it is follows from where it came.
constexpr std::uint16_t kBusy = 1;           // a request is still running
constexpr std::uint16_t kNothingToSend = 2;  // Post or Put without SendStream
constexpr std::uint16_t kBadVersion = 5;     // RequestVer other than "1.0" or "1.1"
constexpr std::uint16_t kBadAuthState = 6;   // an authentication step out of order

// Socket errors a request ends with, as far as callers tell them apart.
constexpr std::uint16_t kBadAddress = plat::WSAEINVAL;  // address or port not usable
constexpr std::uint16_t kNetDown = plat::WSAENETDOWN;
constexpr std::uint16_t kNetReset = plat::WSAENETRESET;  // the network dropped the connection
constexpr std::uint16_t kConnAborted = plat::WSAECONNABORTED;
constexpr std::uint16_t kConnReset = plat::WSAECONNRESET;
constexpr std::uint16_t kShutdown = plat::WSAESHUTDOWN;
constexpr std::uint16_t kTimedOut = plat::WSAETIMEDOUT;  // the system's own connect time-out

}  // namespace httperr
