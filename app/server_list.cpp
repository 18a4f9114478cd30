#include "app/server_list.h"

#include <fstream>

#include "net/base64.h"

namespace upd::app {
namespace {

std::vector<std::string> splitAtCommas(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Reads the file; `codePageOf` picks the code page of each record from its decoded bytes.
template <typename CodePageOf>
ServerFile readRecords(const std::string& path, CodePageOf codePageOf) {
    ServerFile file;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return file;
    }
    file.readable = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (isBlank(line)) {
            continue;
        }
        // The line is ANSI text; its Base64 characters are the same bytes in any code page.
        const net::Bytes decoded = net::base64DecodeBytes(line);
        std::vector<std::string> fields =
            splitAtCommas(net::AnsiBytesToText(decoded, codePageOf(decoded)));
        file.infoFile = fields.size() >= 3 ? fields[2] : std::string{};
        file.records.push_back(std::move(fields));
    }
    if (in.bad()) {
        file.readable = false;
    }
    return file;
}

}  // namespace

ServerFile readServerFile(const std::string& path, platform::CodePage cp) {
    return readRecords(path, [cp](const net::Bytes&) { return cp; });
}

ServerFile readServerFileInRecordCodePages(const std::string& path) {
    return readRecords(path, [](const net::Bytes& decoded) -> platform::CodePage {
        // The tag is ASCII, so it can be found in the bytes before they are decoded.
        const std::string_view text(reinterpret_cast<const char*>(decoded.data()), decoded.size());
        const auto fields = splitAtCommas(std::string(text));
        const auto tagged =
            fields.size() >= 4 ? platform::languageProfileForTag(fields[3]) : std::nullopt;
        return tagged.value_or(platform::languageProfile(platform::kLangEnglishUS)).codePage;
    });
}

ServerList serversForLanguage(const ServerFile& file, platform::LangId language) {
    ServerList list;
    list.infoFile = file.infoFile;
    const std::string_view tag = platform::languageProfile(language).tag;
    for (const auto& fields : file.records) {
        if (fields.size() >= 4 && fields[3] == tag) {
            list.servers.push_back({fields[0], fields[1]});
        }
    }
    return list;
}

ServerList loadServerList(const std::string& path, platform::LangId systemLanguage) {
    const platform::CodePage cp = platform::languageProfile(systemLanguage).codePage;
    return serversForLanguage(readServerFile(path, cp), systemLanguage);
}

std::string encodeServerLine(std::string_view name, std::string_view address,
                             std::string_view infoFile, std::string_view languageTag,
                             platform::CodePage cp) {
    std::string record;
    record.append(name).append(",").append(address).append(",");
    record.append(infoFile).append(",").append(languageTag).append(",");
    return net::ToBase64(record, cp);
}

}  // namespace upd::app
