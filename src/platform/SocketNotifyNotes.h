// What the socket calls tell the notification machinery, so that it re-arms and reports as Windows would.
#pragma once

#include "platform/WinsockApi.h"

namespace plat {

// A socket was opened (by WsSocket).
void NoteOpened(TSocket s, bool dgram);
// An accept was tried on `listener`; `accepted` is the new socket or INVALID_SOCKET.
void NoteAccept(TSocket listener, TSocket accepted);
// The socket is about to be closed: its notifiers and record go.
void NoteClosing(TSocket s);
// A connect started (or, for a datagram socket, set the peer).
void NoteConnecting(TSocket s);
void NoteListening(TSocket s);
// A send would block or was short: a write notification is owed.
void NoteWriteBlocked(TSocket s);
// A receive call was made: the next FD_READ may be posted.
void NoteReceived(TSocket s);

}  // namespace plat
