// Any bytes as a profile file. The first byte picks the code page; the rest is the file.
// Checks: no crash or out-of-bounds read; no value longer than 254 ANSI bytes; a value that
// was set reads back, and setting it changes no other value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "wizard/profile_file.h"

namespace {

using upd::platform::CodePage;
using upd::wizard::ProfileDocument;
using upd::wizard::ProfileEncoding;

constexpr CodePage kCodePages[] = {1252, 936, 950, 932, 949};

struct Name {
    std::string_view section;
    std::string_view key;
};
constexpr Name kProbes[] = {{"Ver", "File1"},   {"ver", "file2"}, {"Info", "InfoFile"},
                            {"Proxy", "Type"},  {"", ""},         {"Date", "update.exe"},
                            {" Proxy ", "Port"}};

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void checkLength(const ProfileDocument& document, const std::string& value) {
    if (document.encoding() == ProfileEncoding::Ansi) {
        check(upd::platform::toAnsi(value, document.codePage()).size() <=
              upd::wizard::kMaxIniValueBytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const CodePage cp = kCodePages[data[0] % std::size(kCodePages)];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const ProfileDocument document = ProfileDocument::parse(bytes, cp);

    // A name taken from the input itself reaches sections and keys the probes miss.
    const std::string fromInput =
        upd::platform::fromAnsi(std::string_view(bytes).substr(bytes.size() / 3, 6), cp);
    for (const Name& probe : kProbes) {
        if (const auto value = document.find(probe.section, probe.key)) {
            checkLength(document, *value);
        }
    }
    for (const auto& [section, key] : {Name{fromInput, fromInput}, Name{"Ver", fromInput}}) {
        if (const auto value = document.find(section, key)) {
            checkLength(document, *value);
        }
    }

    ProfileDocument written = document;
    check(static_cast<bool>(written.setValue("Proxy", "Server", "fz1")));
    check(written.value("PROXY", "server") == "fz1");
    for (const Name& probe : kProbes) {
        check(written.find(probe.section, probe.key) == document.find(probe.section, probe.key));
    }
    // What was written parses to the same document.
    const ProfileDocument reread = ProfileDocument::parse(written.bytes(), cp);
    check(reread.value("Proxy", "Server") == "fz1");

    // Names the code page cannot hold come back as '?', so only those it can are checked.
    const bool representable =
        document.encoding() == ProfileEncoding::Utf8 ||
        upd::platform::fromAnsi(upd::platform::toAnsi(fromInput, cp), cp) == fromInput;
    ProfileDocument named = document;
    if (named.setValue(fromInput, fromInput, "v") && representable) {
        check(named.find(fromInput, fromInput).has_value());
    }
    return 0;
}
