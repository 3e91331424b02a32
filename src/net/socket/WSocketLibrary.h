// Process-wide socket library state, the unit-level resolvers and the Winsock error texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/socket/Component.h"
#include "platform/WinsockApi.h"

class ESocketException : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "ESocketException"; }
};

// Unit-level functions. They raise ESocketException directly.

// IPv4 address in network order.
std::uint32_t WSocketResolveHost(const std::string& InAddr);
// Every address of a host text: a dotted IPv4 or an IPv6 literal as is, a
// name looked up (blocking) and put in connecting order, IPv6 first and the
// families alternating. `Family` (plat::WS_AF_INET or WS_AF_INET6) keeps
// one family only; a host without such an address fails. Failures carry
// WSocketResolveHost's texts.
std::vector<plat::TSockAddr> WSocketResolveHostAddrs(const std::string& InAddr, int Family = plat::WS_AF_UNSPEC);
// Port number in host order.
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
int WSocketResolveProto(const std::string& Proto);
bool IsDottedQuad(const std::string& Str);
int AtoiSkipSpaces(const std::string& Str);
std::string WinsockErrorText(int ErrCode);
std::string GetLocalHostName();

// Process-wide socket library state (the library itself needs no loading
// here: "loaded" follows the first socket call and the live socket count).
bool WSocketIsLoaded();
int WSocketLiveCount();
