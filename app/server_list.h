// The list of download servers shipped beside the program (update.svr): one Base64 line per
// record, "name,address,info-file,language,..." in the system's ANSI code page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "platform/language.h"

namespace upd::app {

// Every record of the file, decoded and split at every comma, in file order.
struct ServerFile {
    bool readable = false;
    std::vector<std::vector<std::string>> records;
    // Field 2 of the last line (whatever its language); empty when that line has fewer
    // than three fields or the file is missing. Keeps any NULs the decoder left on it.
    std::string infoFile;
};

// One server offered to the user: the row text and the address the row stands for.
struct ServerEntry {
    std::string name;
    std::string address;
};

struct ServerList {
    std::vector<ServerEntry> servers;
    std::string infoFile;
};

// Reads and decodes update.svr. Lines end with CR LF or LF. Blank lines are not records
// and do not count as the last line, so a file that ends with an empty line keeps the
// info file of its last record.
ServerFile readServerFile(const std::string& path, platform::CodePage cp);

// As readServerFile, but each record in the code page of its own language tag (that of
// platform::languageProfileForTag: 936 for "CHS", 1252 for "EN" and any other field), so that
// a release engineer sees every record readable.
ServerFile readServerFileInRecordCodePages(const std::string& path);

// The records whose field 3 is exactly the language tag of `language` ("CHS" for 2052, "EN"
// for every other id, 1028 included: platform::languageProfile). Case-sensitive, no trimming:
// the NULs the decoder leaves on the last field stay in field 4 when the line has a trailing
// comma, and spoil field 3 otherwise.
ServerList serversForLanguage(const ServerFile& file, platform::LangId language);

// readServerFile + serversForLanguage, in the code page of `systemLanguage`.
ServerList loadServerList(const std::string& path, platform::LangId systemLanguage);

// Encodes one record as an update.svr line (without the line end): the four fields and an
// empty fifth one that keeps the decoder's NULs off the language tag, in code page `cp`.
std::string encodeServerLine(std::string_view name, std::string_view address,
                             std::string_view infoFile, std::string_view languageTag,
                             platform::CodePage cp);

}  // namespace upd::app
