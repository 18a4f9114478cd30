#include "tools/updtool/fetch_command.h"

#include "tools/updtool/exit_status.h"
#include "tools/updtool/usage_error.h"

#include <stdio_ext.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "app/environment_proxy.h"
#include "app/progress_line.h"
#include "net/data_connection.h"
#include "net/failure_code.h"
#include "net/mdl_data_connection.h"
#include "net/reactor.h"
#include "net/socket_layer.h"
#include "net/url.h"
#include "platform/monotonic_clock.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

constexpr const char* kFetchUsage =
    "usage: updtool fetch [-o FILE | --temp | --memory] [--proxy none|http|socks4|socks5]\n"
    "                     [--proxy-host H] [--proxy-port N] [--proxy-user U] [--proxy-pass P]\n"
    "                     [--remote-dns] [--proxy-auth 0|2] [--user U] [--password P]\n"
    "                     [--resume-from N] [--max N] [--no-redirect] [--packet-size N]\n"
    "                     [--allow-cache] [--id N] [--timeout SECONDS] [--trace]\n"
    "                     [--keep-alive] [--quiet] URL [URL...]\n"
    "Several URLs are fetched one after the other, into standard output or --memory;\n"
    "with --keep-alive they share persistent connections.\n"
    "With -o the progress is shown on standard error when it is a terminal (not with\n"
    "--quiet or --trace).\n"
    "Without proxy options the proxy is the system's: http_proxy, https_proxy, all_proxy\n"
    "and no_proxy, as other command-line tools read them.\n";

enum class Output { Stream, File, Temp, Memory };

struct FetchOptions {
    Output output = Output::Stream;
    std::string file;
    std::int32_t proxyType = 0;
    std::optional<std::string> proxyHost;
    std::optional<std::int32_t> proxyPort;
    std::optional<std::string> proxyUser;
    std::optional<std::string> proxyPass;
    bool remoteDns = false;
    std::int32_t proxyAuth = 0;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::int64_t> resumeFrom;
    std::optional<std::int64_t> maxDownload;
    bool noRedirect = false;
    std::optional<std::int32_t> packetSize;
    bool allowCache = false;
    std::int32_t id = 0;
    std::optional<double> timeoutSeconds;
    bool trace = false;
    bool keepAlive = false;
    bool quiet = false;  // no progress line
    std::vector<std::string> urls;
    bool proxyOption = false;  // else the environment names the proxy
};

template <typename T>
std::optional<T> parseInteger(std::string_view text, T low, T high) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parsePositiveSeconds(std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !(value > 0) || value > 1e6) {
        return std::nullopt;
    }
    return value;
}

// Fills `o` from the arguments; an empty result means success, otherwise the message.
std::string parseOptions(const std::vector<std::string>& args, FetchOptions& o) {
    constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();
    constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
    constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();
    int outputs = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.starts_with("--")) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.erase(eq);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto flag = [&]() { return !inlineValue.has_value(); };
        if (name.starts_with("--proxy") || name == "--remote-dns") {
            o.proxyOption = true;
        }

        if (name == "-o") {
            const auto v = value();
            if (!v || v->empty()) {
                return "-o needs a FILE";
            }
            o.output = Output::File;
            o.file = *v;
            ++outputs;
        } else if (name == "--temp" || name == "--memory") {
            if (!flag()) {
                return name + " takes no value";
            }
            o.output = name == "--temp" ? Output::Temp : Output::Memory;
            ++outputs;
        } else if (name == "--proxy") {
            const auto v = value();
            static const char* const kinds[] = {"none", "http", "socks4", "socks5"};
            std::optional<std::int32_t> type;
            for (std::int32_t k = 0; k < 4 && v; ++k) {
                if (*v == kinds[k]) {
                    type = k;
                }
            }
            if (!type) {
                return "--proxy must be none, http, socks4 or socks5";
            }
            o.proxyType = *type;
        } else if (name == "--proxy-host") {
            const auto v = value();
            if (!v || v->empty()) {
                return "--proxy-host needs a host";
            }
            o.proxyHost = *v;
        } else if (name == "--proxy-port") {
            const auto v = value();
            o.proxyPort = v ? parseInteger<std::int32_t>(*v, 1, 65535) : std::nullopt;
            if (!o.proxyPort) {
                return "--proxy-port needs a port from 1 to 65535";
            }
        } else if (name == "--proxy-user" || name == "--proxy-pass" || name == "--user" ||
                   name == "--password") {
            const auto v = value();
            if (!v) {
                return name + " needs a value";
            }
            (name == "--proxy-user"   ? o.proxyUser
             : name == "--proxy-pass" ? o.proxyPass
             : name == "--user"       ? o.user
                                      : o.password) = *v;
        } else if (name == "--remote-dns" || name == "--no-redirect" || name == "--allow-cache" ||
                   name == "--trace" || name == "--keep-alive") {
            if (!flag()) {
                return name + " takes no value";
            }
            (name == "--remote-dns"    ? o.remoteDns
             : name == "--no-redirect" ? o.noRedirect
             : name == "--allow-cache" ? o.allowCache
             : name == "--keep-alive"  ? o.keepAlive
                                       : o.trace) = true;
        } else if (name == "--quiet") {
            if (!flag()) {
                return name + " takes no value";
            }
            o.quiet = true;
        } else if (name == "--proxy-auth") {
            const auto v = value();
            if (!v || (*v != "0" && *v != "2")) {
                return "--proxy-auth must be 0 or 2";
            }
            o.proxyAuth = *v == "2" ? 2 : 0;
        } else if (name == "--resume-from" || name == "--max") {
            const auto v = value();
            const auto n = v ? parseInteger<std::int64_t>(*v, 0, kInt64Max) : std::nullopt;
            if (!n) {
                return name + " needs a byte count (0 or more)";
            }
            (name == "--max" ? o.maxDownload : o.resumeFrom) = *n;
        } else if (name == "--packet-size") {
            const auto v = value();
            o.packetSize = v ? parseInteger<std::int32_t>(*v, 1, kInt32Max) : std::nullopt;
            if (!o.packetSize) {
                return "--packet-size needs a size of 1 or more";
            }
        } else if (name == "--id") {
            const auto v = value();
            const auto n = v ? parseInteger<std::int32_t>(*v, kInt32Min, kInt32Max) : std::nullopt;
            if (!n) {
                return "--id needs a whole number";
            }
            o.id = *n;
        } else if (name == "--timeout") {
            const auto v = value();
            o.timeoutSeconds = v ? parsePositiveSeconds(*v) : std::nullopt;
            if (!o.timeoutSeconds) {
                return "--timeout needs a number of seconds above 0";
            }
        } else if (name.starts_with("-") && name != "-") {
            return "unknown option " + args[i];
        } else {
            o.urls.push_back(args[i]);
        }
    }
    if (outputs > 1) {
        return "-o, --temp and --memory exclude each other";
    }
    if (o.urls.empty()) {
        return "no URL given";
    }
    if (o.urls.size() > 1 && (o.output == Output::File || o.output == Output::Temp)) {
        return "several URLs go to standard output or --memory, not into one file";
    }
    return {};
}

using upd::platform::monotonicMs;

struct Run {
    const FetchOptions* options = nullptr;
    upd::net::DataConnection* connection = nullptr;
    bool finished = false;
    bool disconnected = false;
    std::vector<std::int32_t> failures;
    // Each failure's reason where the engine gives one ("certificate has expired").
    std::vector<std::string> details;
    bool timedOut = false;
    bool outputFailed = false;
    std::int64_t lastActivityMs = monotonicMs();
    bool active = false;
    // Set only when the line is drawn, so that a transfer without it reads no clock per packet.
    upd::app::ProgressLine* progress = nullptr;

    // One trace line of the parts, separated by blanks; built only when tracing, since a
    // fast transfer raises two events per packet.
    template <class... Parts>
    void trace(const char* event, const Parts&... parts) const {
        if (options->trace) {
            std::cerr << event;
            ((std::cerr << ' ' << parts), ...);
            std::cerr << std::endl;
        }
    }
    // A flag, not a clock reading: it is set once per packet; the watchdog reads the clock.
    void activity() { active = true; }
};

upd::net::DataConnectionEvents traceEvents(Run& run) {
    upd::net::DataConnectionEvents events;
    events.Connected = [&run](std::int32_t id) {
        run.activity();
        run.trace("Connected", id);
    };
    events.Disconnected = [&run](std::int32_t id) {
        run.trace("Disconnected", id);
        run.disconnected = true;
        run.finished = true;
    };
    events.DownloadFailed = [&run](std::int32_t why, std::int32_t id) {
        run.activity();
        run.trace("DownloadFailed", why, id);
        run.failures.push_back(why);
        run.details.push_back(run.connection != nullptr ? run.connection->lastFailureDetail()
                                                        : std::string());
        // Failure 4 for a status leaves the connection open: the reply's body and the
        // close still follow.
        if (run.connection == nullptr || !run.connection->IsConnected()) {
            run.finished = true;
        }
    };
    events.BytesReceived = [&run](std::int64_t count, std::int32_t id) {
        run.activity();
        run.trace("BytesReceived", count, id);
        if (run.progress != nullptr && run.connection != nullptr) {
            // The length counts from byte 0 when resuming; --max ends the transfer early.
            std::int64_t total = run.connection->DownloadLength();
            if (const std::int64_t limit = run.connection->MaxDownload();
                limit >= 0 && total > limit) {
                total = limit;
            }
            run.progress->update(count, total, monotonicMs());
        }
    };
    events.StreamBytes = [&run](std::int64_t count, std::span<const std::uint8_t> bytes,
                                std::int32_t id) {
        run.trace("StreamBytes", count, id);
        if (run.outputFailed) {
            return;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
            run.outputFailed = true;
            if (run.connection != nullptr) {
                run.connection->Disconnect();
            }
        }
    };
    events.QuerySent = [&run](std::int32_t id) {
        run.activity();
        run.trace("QuerySent", id);
        if (run.connection != nullptr && run.connection->ConnectionReused()) {
            run.trace("ConnectionReused", id);
        }
        if (run.connection != nullptr && run.connection->TlsResumed()) {
            run.trace("TlsResumed", id);
        }
    };
    events.ObjectMoved = [&run](const std::string& url, std::int32_t id) {
        run.activity();
        run.trace("ObjectMoved", url, id);
    };
    return events;
}

void applyOptions(const FetchOptions& o, upd::net::DataConnection& c) {
    c.setId(o.id);
    switch (o.output) {
        case Output::File:
            c.setDownloadType(0);
            c.setUseTempFile(false);
            c.setFilename(o.file);
            break;
        case Output::Temp:
            c.setDownloadType(0);
            c.setUseTempFile(true);
            break;
        case Output::Memory:
            c.setDownloadType(1);
            break;
        case Output::Stream:
            c.setDownloadType(2);
            break;
    }
    c.setProxyType(o.proxyType);
    if (o.proxyHost) {
        c.setProxyHostname(*o.proxyHost);
    }
    if (o.proxyPort) {
        c.setProxyPort(*o.proxyPort);
    }
    if (o.proxyUser) {
        c.setProxyUsername(*o.proxyUser);
    }
    if (o.proxyPass) {
        c.setProxyPassword(*o.proxyPass);
    }
    c.setProxyUseRemoteDNS(o.remoteDns);
    c.setProxyAuthentication(o.proxyAuth);
    if (o.user || o.password) {
        c.setHttpUser(o.user.value_or(""));
        c.setHttpPass(o.password.value_or(""));
        c.setUseHttpAuthorization(true);
    }
    if (o.resumeFrom) {
        c.setUseResume(true);
        c.setResumeFrom(*o.resumeFrom);
    }
    if (o.maxDownload) {
        c.setMaxDownload(*o.maxDownload);
    }
    c.setAutoRedirect(!o.noRedirect);
    if (o.packetSize) {
        c.setPacketSize(*o.packetSize);
    }
    c.setAllowCache(o.allowCache);
    c.setKeepAlive(o.keepAlive);
}

// One URL with the options; true when it arrived whole and was written.
bool fetchOne(const FetchOptions& options, const std::string& url,
              std::optional<std::int64_t> timeoutMs, upd::net::Reactor& reactor) {
    Run run;
    run.options = &options;
    run.activity();
    // Trace lines would break the line up, and into a pipe it is never drawn.
    upd::app::ProgressLine progress(
        STDERR_FILENO, options.output == Output::File && !options.quiet && !options.trace);
    if (progress.active()) {
        run.progress = &progress;
    }
    std::string tempName;
    {
        upd::net::DataConnection connection(traceEvents(run));
        if (!run.finished) {
            run.connection = &connection;
            applyOptions(options, connection);
            connection.FetchURLString(url);
        }
        upd::net::Reactor::TimerId watchdog = 0;
        if (timeoutMs && !run.finished) {
            // A stalled transfer: nothing has happened for the whole time-out.
            watchdog = reactor.setTimer(std::min<std::int64_t>(*timeoutMs, 250), [&](auto) {
                const std::int64_t now = monotonicMs();
                if (run.active) {
                    run.active = false;
                    run.lastActivityMs = now;
                }
                if (!run.finished && now - run.lastActivityMs >= *timeoutMs) {
                    run.timedOut = true;
                    if (connection.IsConnected()) {
                        connection.Disconnect();
                    }
                    run.finished = true;
                }
            });
        }
        while (!run.finished) {
            reactor.runOnce(1000);
        }
        if (watchdog != 0) {
            reactor.killTimer(watchdog);
        }
        if (options.output == Output::Memory) {
            std::vector<std::uint8_t> body;
            if (connection.GetBuffer(body) > 0 &&
                std::fwrite(body.data(), 1, body.size(), stdout) != body.size()) {
                run.outputFailed = true;
            }
        }
        if (options.output == Output::Temp) {
            tempName = connection.Filename();
        }
        run.connection = nullptr;
    }
    // The messages below start on a clean line.
    progress.finish();

    if (!tempName.empty()) {
        std::cout << tempName << '\n';
    }
    if (std::fflush(stdout) != 0) {
        run.outputFailed = true;
    }
    std::set<std::int32_t> reported;
    for (std::size_t i = 0; i < run.failures.size(); ++i) {
        const std::int32_t why = run.failures[i];
        if (reported.insert(why).second) {
            std::cerr << "updtool: " << upd::net::FailureToString(why) << '\n';
        }
        // The fixed text says what failed; this says why (TLS, a proxy's answer).
        if (!run.details[i].empty()) {
            std::cerr << "updtool: " << run.details[i] << '\n';
        }
        std::string reason;
        if (why == upd::net::toWhy(upd::net::FailureCode::BadUrl) &&
            !upd::net::splitUrl(upd::net::UrlEncode(url), &reason)) {
            std::cerr << "updtool: " << reason << ": " << url << '\n';
        }
    }
    if (run.timedOut) {
        std::cerr << "updtool: nothing happened for " << *options.timeoutSeconds
                  << " seconds; the transfer was stopped\n";
    }
    if (run.outputFailed) {
        std::cerr << "updtool: cannot write to standard output\n";
    }
    return run.disconnected && run.failures.empty() && !run.timedOut && !run.outputFailed;
}

// The options for one URL: without proxy options, the environment's proxy for its scheme
// and host. An unusable variable is named once, never with its value (it may hold a
// password), and the URL is fetched without a proxy.
FetchOptions withEnvironmentProxy(const FetchOptions& options, const std::string& url,
                                  std::set<std::string>& warned) {
    if (options.proxyOption) {
        return options;
    }
    const upd::app::EnvironmentProxyChoice choice =
        upd::app::environmentProxyChoice(url, upd::app::processEnvironment);
    if (const std::string warning = upd::app::ignoredProxyWarning(choice);
        !warning.empty() && warned.insert(warning).second) {
        std::cerr << "updtool: " << warning << '\n';
    }
    FetchOptions o = options;
    if (const auto& proxy = choice.proxy) {
        o.proxyType = proxy->type;
        o.proxyHost = proxy->hostname;
        o.proxyPort = proxy->port;
        o.proxyUser = proxy->username;
        o.proxyPass = proxy->password;
        o.remoteDns = proxy->useRemoteDns;
        o.proxyAuth = proxy->authentication;
    }
    return o;
}

}  // namespace

int runFetch(const std::vector<std::string>& args) {
    FetchOptions options;
    if (const std::string problem = parseOptions(args, options); !problem.empty()) {
        return usageError("fetch", problem, kFetchUsage);
    }
    // A reader that goes away (`updtool fetch URL | head`) is a failed write, reported with
    // status 1, not a silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // A streamed body leaves in large writes, not one system call per packet.
    static std::vector<char> outputBuffer(256 * 1024);
    std::setvbuf(stdout, outputBuffer.data(), _IOFBF, outputBuffer.size());
    // One thread writes it: the lock that stdio takes on each packet's write would cost
    // more than the copy.
    __fsetlocking(stdout, FSETLOCKING_BYCALLER);
    std::string description;
    upd::net::WinsockStartup(description);
    std::optional<std::int64_t> timeoutMs;
    if (options.timeoutSeconds) {
        timeoutMs =
            std::max<std::int64_t>(1, static_cast<std::int64_t>(*options.timeoutSeconds * 1000));
        upd::net::setConnectTimeoutMs(std::min(*timeoutMs, upd::net::connectTimeoutMs()));
    }

    upd::net::Reactor& reactor = upd::net::mainReactor();
    bool ok = true;
    std::set<std::string> warned;
    for (const std::string& url : options.urls) {
        ok = fetchOne(withEnvironmentProxy(options, url, warned), url, timeoutMs, reactor);
        if (!ok) {
            break;
        }
    }
    upd::net::WinsockCleanup();
    return ok ? kExitOk : kExitFailure;
}
