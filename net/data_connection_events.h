// The seven events of a DataConnection, in their declared order. The owner fills in the
// ones it wants; an empty function is an event nobody listens to. Every event passes the
// object's `id` as its last argument.
//
// Handlers run synchronously inside the object's methods or inside the reactor's
// dispatch, and they may re-enter: call Disconnect or FetchURLString on the object, change
// its properties or handlers, or destroy it. The object stops using whatever the handler
// changed and never touches itself after its own destruction.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace upd::net {

struct DataConnectionEvents {
    // 1. FetchURL has connected to the server or proxy (not on a redirect's reconnect).
    std::function<void(std::int32_t id)> Connected;
    // 2. The peer closed, nothing expected was missing, and Disconnect was not used.
    std::function<void(std::int32_t id)> Disconnected;
    // 3. A failure; `Why` is a failure code (failure_code.h).
    std::function<void(std::int32_t Why, std::int32_t id)> DownloadFailed;
    // 4. A body chunk was handled; `lByteCount` is ReceivedBytes at that moment.
    std::function<void(std::int64_t lByteCount, std::int32_t id)> BytesReceived;
    // 5. DownloadType 2: one body chunk, before its BytesReceived. The bytes are valid
    //    during the call only.
    std::function<void(std::int64_t lByteCount, std::span<const std::uint8_t> bBytes,
                       std::int32_t id)>
        StreamBytes;
    // 6. The HTTP request has been handed to the socket.
    std::function<void(std::int32_t id)> QuerySent;
    // 7. A 301/302 with a location while AutoRedirect is false.
    std::function<void(const std::string& sNewUrl, std::int32_t id)> ObjectMoved;
};

}  // namespace upd::net
