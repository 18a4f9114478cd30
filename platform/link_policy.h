// Whether a symbolic link met on a path is followed. The wizard never writes through a link
// it did not make: in its own update folder a link is refused; in the application folder the
// links the application ships stay usable, as they always were.
#pragma once

namespace upd::platform {

enum class LinkPolicy {
    Follow,    // a link is used as what it names (files and folders the user or the app owns)
    NoFollow,  // a link is refused with ELOOP (files and folders the wizard itself makes)
};

}  // namespace upd::platform
