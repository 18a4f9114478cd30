// libsodium, which does every cryptographic step of the signed update sets, must be started
// before its first use. sodium_init() is thread-safe and does nothing after its first call,
// so each entry point of the digest and signature modules calls this.
#pragma once

#include <sodium.h>

namespace upd::wizard {

// False only when the library cannot start (it found no source of randomness).
inline bool cryptoLibraryReady() {
    return sodium_init() >= 0;
}

}  // namespace upd::wizard
