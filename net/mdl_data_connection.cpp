#include "net/mdl_data_connection.h"

#include <vector>

#include "net/data_connection.h"

namespace upd::net {
namespace {

struct ModuleState {
    bool WinsockStarted = false;
    std::int32_t SocketWindow = 0;
    std::int32_t lastWindowHandle = 0;
    std::vector<DataConnection*> Connections;
    std::int32_t LiveConnections = 0;
};

ModuleState& module() {
    static ModuleState state;
    return state;
}

}  // namespace

bool WinsockStartup(std::string& sDescription) {
    ModuleState& m = module();
    if (!m.WinsockStarted) {
        m.WinsockStarted = true;
        sDescription = "POSIX sockets (TCP over IPv6 and IPv4, TLS, single-threaded reactor)";
    }
    return m.WinsockStarted;
}

void WinsockCleanup() {
    module().WinsockStarted = false;
}

bool WinsockStarted() {
    return module().WinsockStarted;
}

void RegisterConnection(DataConnection& connection) {
    ModuleState& m = module();
    if (connectionIndex(connection) >= 0) {
        return;
    }
    bool placed = false;
    for (auto& entry : m.Connections) {
        if (entry == nullptr) {
            entry = &connection;
            placed = true;
            break;
        }
    }
    if (!placed) {
        m.Connections.push_back(&connection);
    }
    ++m.LiveConnections;
}

void UnregisterConnection(DataConnection& connection) {
    ModuleState& m = module();
    for (auto& entry : m.Connections) {
        if (entry == &connection) {
            entry = nullptr;
            --m.LiveConnections;
            return;
        }
    }
}

std::int32_t SocketWindowProc(std::intptr_t /*hWnd*/, std::uint32_t uMsg, std::intptr_t wParam,
                              std::intptr_t lParam) {
    if (uMsg != kSocketMessage) {
        return 0;
    }
    // Find first, then call: the handler may register or destroy objects, which changes
    // the table under any iteration.
    DataConnection* target = nullptr;
    for (DataConnection* c : module().Connections) {
        if (c != nullptr && c->liveSocket() >= 0 && c->liveSocket() == wParam) {
            target = c;
            break;
        }
    }
    if (target != nullptr) {
        const auto event = static_cast<std::int32_t>(lParam & 0xFFFF);
        // The close carries the connection's error in its high half: a reset.
        if (event == static_cast<std::int32_t>(kFdClose) && (lParam >> 16) != 0) {
            target->noteConnectionBroken();
        }
        target->ProcessMessage(event);
    }
    return 0;
}

std::int32_t SocketWindow() {
    return module().SocketWindow;
}

std::int32_t ConnectionSlots() {
    return static_cast<std::int32_t>(module().Connections.size());
}

std::int32_t LiveConnections() {
    return module().LiveConnections;
}

std::int32_t connectionIndex(const DataConnection& connection) {
    const auto& table = module().Connections;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i] == &connection) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

bool createSocketWindow() {
    ModuleState& m = module();
    if (m.SocketWindow != 0) {
        return true;
    }
    if (!mainReactor().open()) {
        return false;
    }
    m.SocketWindow = ++m.lastWindowHandle;
    return true;
}

void destroySocketWindow() {
    module().SocketWindow = 0;
}

Reactor::Sink socketWindowSink() {
    return [](int socket, std::uint32_t lParam) {
        SocketWindowProc(SocketWindow(), kSocketMessage, socket,
                         static_cast<std::intptr_t>(lParam));
    };
}

}  // namespace upd::net
