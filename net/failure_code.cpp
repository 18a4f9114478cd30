#include "net/failure_code.h"

namespace upd::net {

std::string FailureToString(std::int32_t Why) {
    switch (Why) {
        case 0:
            return "The connection with the proxy or host has been closed, before downloading "
                   "the entire file.";
        case 1:
            return "The download has been aborted by the user.";
        case 2:
            return "Unable to create a necessary window.";
        case 3:
            return "Unable to send data to the host or proxy";
        case 4:
            return "The server didn't reply with a 200 or 206 reply code.";
        case 5:
            return "Unable to connect to the host.";
        case 6:
            return "Unable to create the file, specified in the Filename property.";
        case 7:
            return "Unable to connect to the proxy or unable to send data to it.";
        case 8:
            return "The connection request has failed or the proxy server has rejected it.";
        case 9:
            return "The selected authentication method was not accepted by the proxy.";
        case 10:
            return "The user/password combination was not accepted by the proxy.";
        case 12:
            return "Unable to make a secure connection with the host: the TLS handshake failed, "
                   "the certificate was not accepted, or a redirect would have left HTTPS.";
        default:
            return "Unknown Error!";
    }
}

}  // namespace upd::net
