// mdlDataConnection: what all download objects share. The socket-library start-up and
// clean-up, the notification hub (the stand-in for the hidden notification window: it
// receives every socket notification of the reactor and routes it), and the registry that
// tells which object a notification belongs to.
//
// The hub exists from the creation of the first DataConnection to the destruction of the
// last; SocketWindow() is its handle (0 when none; a new hub gets a new handle). The
// registry refers to live objects without owning them: an object registers itself when
// created and leaves when destroyed. Everything here runs on the program's one thread.
#pragma once

#include <cstdint>
#include <string>

#include "net/reactor.h"

namespace upd::net {

class DataConnection;

// The notification message number (WM_USER + 1).
inline constexpr std::uint32_t kSocketMessage = 1025;

// POSIX sockets need no start-up: this records the start (once) and hands back a
// description of the socket library. Returns true.
bool WinsockStartup(std::string& sDescription);
// Records the clean-up; a later WinsockStartup starts again.
void WinsockCleanup();
bool WinsockStarted();

// Adds the object to the lowest empty entry (growing the table when none is empty);
// nothing when it is registered already.
void RegisterConnection(DataConnection& connection);
// Empties the object's entry; nothing when it is not registered.
void UnregisterConnection(DataConnection& connection);

// For message 1025: hands the event (low 16 bits of lParam; the high half carries an error
// number and is not examined) to the first registered object that holds socket wParam.
// A notification for a socket nobody holds is dropped. Other messages are ignored.
// Returns 0.
std::int32_t SocketWindowProc(std::intptr_t hWnd, std::uint32_t uMsg, std::intptr_t wParam,
                              std::intptr_t lParam);

std::int32_t SocketWindow();
std::int32_t ConnectionSlots();
std::int32_t LiveConnections();
// The object's entry in the registry, -1 when it is not registered.
std::int32_t connectionIndex(const DataConnection& connection);

// For DataConnection: makes the hub when none exists (false when the reactor cannot be
// opened), ends it, and the sink that routes a socket's notifications through it.
bool createSocketWindow();
void destroySocketWindow();
Reactor::Sink socketWindowSink();

}  // namespace upd::net
