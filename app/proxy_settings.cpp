#include "app/proxy_settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "app/environment_proxy.h"
#include "app/number_text.h"
#include "net/data_connection.h"
#include "wizard/profile_file.h"

namespace upd::app {
namespace {

constexpr const char* kSection = "Proxy";

// A stored number the dialog can show: `Type` 0-3, `RemoteDNS` 0-2. Anything else ("",
// "abc", "7", "-1") is refused and the field falls back to 0.
int storedChoice(const std::string& text, int highest) {
    const std::optional<std::int64_t> value = wholeNumberFromText(text);
    if (!value || *value < 0 || *value > highest) {
        return 0;
    }
    return static_cast<int>(*value);
}

}  // namespace

std::string proxyIniPath(const std::string& appFolder) {
    return appFolder + "proxy.ini";
}

ProxySettings readProxySettings(const std::string& file) {
    ProxySettings settings;
    settings.type = storedChoice(wizard::ReadIniValue(kSection, "Type", file), kProxyKindCount - 1);
    settings.server = wizard::ReadIniValue(kSection, "Server", file);
    settings.port = wizard::ReadIniValue(kSection, "Port", file);
    settings.username = wizard::ReadIniValue(kSection, "Username", file);
    settings.password = wizard::ReadIniValue(kSection, "Password", file);
    settings.remoteDns =
        storedChoice(wizard::ReadIniValue(kSection, "RemoteDNS", file), kCheckGreyed);
    return settings;
}

std::optional<ProxySettings> readSavedProxySettings(const std::string& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return std::nullopt;
    }
    return readProxySettings(file);
}

bool writeProxySettings(const ProxySettings& settings, const std::string& file) {
    const std::string type = std::to_string(settings.type);
    const std::string remoteDns = std::to_string(settings.remoteDns);
    const wizard::IniEntry entries[] = {
        {"Type", type},
        {"Server", settings.server},
        {"Port", settings.port},
        {"Username", settings.username},
        {"Password", settings.password},
        {"RemoteDNS", remoteDns},
    };
    return bool(wizard::tryWriteIniValues(kSection, entries, file, wizard::IniFileAccess::Private));
}

ProxyFieldStates proxyFieldStates(int type) {
    switch (static_cast<ProxyKind>(type)) {
        case ProxyKind::None:
            return {};
        case ProxyKind::Http:
            // A proxy that asks for a login gets it (Proxy-Authorization: Basic).
            return {.server = true, .username = true, .password = true};
        case ProxyKind::Socks4:
            return {.server = true, .username = true, .remoteDns = true};
        case ProxyKind::Socks5:
            return {.server = true, .username = true, .password = true, .remoteDns = true};
    }
    return {};
}

int proxySettingsProblem(const ProxySettings& settings) {
    constexpr int kPortHint = 177;
    constexpr int kServerHint = 178;
    if (settings.type == static_cast<int>(ProxyKind::None)) {
        return 0;
    }
    const std::string& server = settings.server;
    if (server.empty() || std::any_of(server.begin(), server.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
        })) {
        return kServerHint;
    }
    const std::string& port = settings.port;
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(port) < 1 || std::stoi(port) > 65535) {
        return kPortHint;
    }
    return 0;
}

ProxySettings settingsToStore(ProxySettings settings) {
    if (settings.type == static_cast<int>(ProxyKind::None)) {
        settings.password.clear();
    }
    return settings;
}

std::int32_t proxyPortValue(std::string_view portText) {
    const std::int64_t value = leadingWholeNumber(portText);
    if (value < 0 || value > 65535) {
        return 0;
    }
    return static_cast<std::int32_t>(value);
}

ProxyConnection proxyConnectionFrom(const ProxySettings& settings) {
    return {
        .type = settings.type,
        .hostname = settings.server,
        .port = proxyPortValue(settings.port),
        .username = settings.username,
        .password = settings.password,
        .useRemoteDns = settings.remoteDns == kCheckChecked,
    };
}

ProxySettings proxySettingsShowing(const ProxyConnection& proxy) {
    if (proxy.type == static_cast<int>(ProxyKind::None)) {
        return {};
    }
    return {
        .type = proxy.type,
        .server = proxy.hostname,
        .port = proxy.port > 0 ? std::to_string(proxy.port) : std::string(),
        .username = proxy.username,
        .password = proxy.password,
        .remoteDns = proxy.useRemoteDns ? kCheckChecked : kCheckCleared,
    };
}

ProxyInForce proxyInForce(const std::optional<ProxySettings>& saved, std::string_view url,
                          const std::function<const char*(const char*)>& getenv) {
    if (saved) {
        return {.connection = proxyConnectionFrom(*saved), .source = ProxySource::Saved};
    }
    EnvironmentProxyChoice choice = environmentProxyChoice(url, getenv);
    if (choice.variable.empty()) {
        return {};
    }
    if (choice.error != ProxyUrlError::None) {
        return {.source = ProxySource::Ignored, .warning = ignoredProxyWarning(choice)};
    }
    return {.connection = std::move(choice.proxy).value_or(ProxyConnection{}),
            .source = ProxySource::System};
}

void applyProxy(const ProxyConnection& proxy, net::DataConnection& connection) {
    connection.setProxyType(proxy.type);
    connection.setProxyHostname(proxy.hostname);
    connection.setProxyPort(proxy.port);
    connection.setProxyUsername(proxy.username);
    connection.setProxyPassword(proxy.password);
    connection.setProxyUseRemoteDNS(proxy.useRemoteDns);
    connection.setProxyAuthentication(proxy.authentication);
}

}  // namespace upd::app
