// The proxy settings: what the proxy dialog shows, what `proxy.ini` beside the program holds
// (section `Proxy`), and what a download object takes from them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace upd::net {
class DataConnection;
}

namespace upd::app {

// List indexes of the dialog's proxy types, as stored under `Type`.
enum class ProxyKind : int { None = 0, Http = 1, Socks4 = 2, Socks5 = 3 };
inline constexpr int kProxyKindCount = 4;

// Values of the remote-DNS check box, as stored under `RemoteDNS`.
inline constexpr int kCheckCleared = 0;
inline constexpr int kCheckChecked = 1;
inline constexpr int kCheckGreyed = 2;

// The dialog's fields: the list index, four texts as typed and the check box value.
struct ProxySettings {
    int type = 0;            // 0-3, see ProxyKind
    std::string server{};    // host name or dotted address
    std::string port{};      // as typed; see proxyPortValue()
    std::string username{};  // SOCKS4 user id, SOCKS5 user
    std::string password{};  // SOCKS5 password, stored in plain text
    int remoteDns = 0;       // 0 cleared, 1 checked, 2 greyed

    bool operator==(const ProxySettings&) const = default;
};

// `proxy.ini` in the application folder (which ends with a separator).
std::string proxyIniPath(const std::string& appFolder);

// The settings stored in `file`. A missing file or key gives the default of the key (no
// proxy, empty texts, remote DNS cleared). `Type` and `RemoteDNS` count only when they are
// numbers (rounded to whole numbers, halves to even) that the dialog can show: a type
// outside 0-3 or a box value outside 0-2 reads as 0. Texts come back as stored, at most
// 254 bytes of the system code page each.
ProxySettings readProxySettings(const std::string& file);

// proxy.ini's settings, or nothing when the application folder has no proxy.ini at all:
// nothing was ever chosen in the dialog, and the system's settings apply. Anything at the
// path counts as a choice (a saved "No proxy", a file that cannot be read, a link), so the
// system's proxy never overrides what was put there.
std::optional<ProxySettings> readSavedProxySettings(const std::string& file);

// Writes the six keys in the dialog's order (`Type`, `Server`, `Port`, `Username`,
// `Password`, `RemoteDNS`) in one replacement of the file (a new file renamed over it),
// changing nothing else in it. The file holds the password: it is left readable by its
// owner only (0600), an existing 0644 one included, and never written through a symbolic
// link: a link at `file` is replaced by the new file, and what it named stays as it was
// (IniFileAccess::Private in wizard/profile_file.h). A value that cannot be stored (a line
// break in it) does not stop the others; the result says whether all six were written
// (the dialog reports nothing).
bool writeProxySettings(const ProxySettings& settings, const std::string& file);

// Which fields the dialog enables for a proxy type: HTTP the server and a login, SOCKS4 the
// server, a user name and remote DNS, SOCKS5 everything. A type outside 0-3 enables nothing.
struct ProxyFieldStates {
    bool server = false;  // and the port
    bool username = false;
    bool password = false;
    bool remoteDns = false;

    bool operator==(const ProxyFieldStates&) const = default;
};
ProxyFieldStates proxyFieldStates(int type);

// What keeps the dialog's OK disabled: the string id of the hint to show, or 0 when the
// settings can be saved. With a proxy the server must be a name or address without blanks
// and the port a whole number from 1 to 65535 (digits only); without one nothing is checked.
int proxySettingsProblem(const ProxySettings& settings);

// What OK writes: the settings, but without the password when no proxy is used, so that a
// secret is not kept for a proxy no longer in use.
ProxySettings settingsToStore(ProxySettings settings);

// The port a download object connects to for a port text: its leading number (blanks
// before it skipped), rounded half to even; 0 when the text does not start with a number.
// "8080" -> 8080, " 1080" -> 1080, "80abc" -> 80, "" -> 0. A number outside the TCP port
// range 0-65535 also gives 0, so a typing slip fails to connect instead of reaching some
// other port.
std::int32_t proxyPortValue(std::string_view portText);

// What a download object takes from the settings, whatever the type (disabled fields too).
struct ProxyConnection {
    int type = 0;  // ProxyType
    std::string hostname{};
    std::int32_t port = 0;
    std::string username{};
    std::string password{};
    bool useRemoteDns = false;  // true only for a checked box (1), not for a greyed one (2)
    // The SOCKS5 method offered besides none: 2 user/password. The dialog's settings leave
    // it 0; the system's set it for a SOCKS5 proxy with a user.
    std::int32_t authentication = 0;

    bool operator==(const ProxyConnection&) const = default;
};
ProxyConnection proxyConnectionFrom(const ProxySettings& settings);

// How the dialog shows a proxy that comes from the system: its type, server, port as text
// ("" for none), user, password, and the remote-DNS box checked or cleared. No proxy shows
// as the defaults, as a missing proxy.ini does.
ProxySettings proxySettingsShowing(const ProxyConnection& proxy);

// Where the settings in force for a download come from.
enum class ProxySource {
    Saved,    // proxy.ini, a saved "No proxy" included: the environment is not read
    Direct,   // no proxy.ini and no system variable for the URL: no proxy
    System,   // no proxy.ini: a system variable decided (its proxy, or `no_proxy`)
    Ignored,  // no proxy.ini: the system's variable cannot be used; no proxy
};
struct ProxyInForce {
    ProxyConnection connection{};
    ProxySource source = ProxySource::Direct;
    // Ignored: one line that names the variable and why, never its value.
    std::string warning{};
};
// The settings for a download of `url`: `saved` when there is a saved choice, otherwise
// those of the environment (app/environment_proxy.h) read through `getenv`.
ProxyInForce proxyInForce(const std::optional<ProxySettings>& saved, std::string_view url,
                          const std::function<const char*(const char*)>& getenv);

// Gives a download object these settings (all seven), as each page does before its
// transfer.
void applyProxy(const ProxyConnection& proxy, net::DataConnection& connection);

}  // namespace upd::app
