// The socket layer's entry header: the whole class chain from TCustomWSocket
// through SOCKS, TLS, line mode and the synchronous wait to TWSocket.
//
// Worth knowing when driving it:
// - Properties are GetX()/SetX(); events are public std::function members
//   (an empty one is skipped). Refusals go to OnError when it is assigned,
//   else they throw ESocketException.
// - A write notification follows every completed connect, so OnDataSent(0)
//   may come once right after OnSessionConnected even before any Send.
// - Addr, Port, LocalAddr, LocalPort and the SOCKS settings count as
//   unassigned after every close: assign them again before each Connect.
// - LingerOnOff is wsLingerOn with 0 s after every close: Close() then
//   resets the connection and drops unsent data. Set wsLingerNoSet (or
//   wsLingerOff) before Connect/Dup for a graceful close.
// - A close notification runs OnDataAvailable once more; Receive gives 0.
#pragma once

#include "net/socket/CustomWSocket.h"
#include "net/socket/LineWSocket.h"
#include "net/socket/SocksWSocket.h"
#include "net/socket/SslWSocket.h"
#include "net/socket/SyncWSocket.h"
#include "net/socket/WSocketLibrary.h"
