#include "wizard/information_file.h"

#include <algorithm>

#include "app/number_text.h"
#include "platform/code_page.h"
#include "platform/read_whole_file.h"
#include "wizard/file_version.h"

namespace upd::wizard {
namespace {

// The same reading of a flag as the plan's: "1", " 1" and "1.0" all ask for it.
bool flagSet(const ProfileDocument& document, const char* key) {
    const auto value = app::wholeNumberFromText(document.value("Update", key));
    return value && *value == 1;
}

void addMissingFiles(const ProfileDocument& document, const char* section,
                     std::vector<std::string>& missing) {
    const auto num = app::wholeNumberFromText(document.value(section, "Num"));
    if (!num || *num < 1) {
        return;
    }
    // Above this the analysis refuses the file anyway; the bound keeps the loop small.
    const std::int64_t last = std::min<std::int64_t>(*num, 32767);
    for (std::int64_t n = 1; n <= last; ++n) {
        const std::string key = "Sha256" + std::to_string(n);
        if (document.value(section, key).empty()) {
            missing.push_back(std::string("[") + section + "] " + key);
        }
    }
}

std::string listed(const std::vector<std::string>& keys) {
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t i = 0; i < keys.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : ", ") + keys[i];
    }
    if (keys.size() > kShown) {
        text += " and " + std::to_string(keys.size() - kShown) + " more";
    }
    return text;
}

LoadedInformation refused(InformationRefusal refusal, std::string reason) {
    LoadedInformation loaded;
    loaded.refusal = refusal;
    loaded.reason = std::move(reason);
    return loaded;
}

}  // namespace

std::vector<std::string> missingDigests(const ProfileDocument& document) {
    std::vector<std::string> missing;
    if (flagSet(document, "ForceUp") && document.value("Update", "UpSha256").empty()) {
        missing.emplace_back("[Update] UpSha256");
    }
    if (flagSet(document, "Update")) {
        if (document.value("Update", "UpdateSha256").empty()) {
            missing.emplace_back("[Update] UpdateSha256");
        }
        // An empty MoveVer never plans FileMove.exe: nothing is older than "".
        if (!RemoveChar(document.value("Update", "MoveVer"), ".").empty() &&
            document.value("Update", "MoveSha256").empty()) {
            missing.emplace_back("[Update] MoveSha256");
        }
    }
    addMissingFiles(document, "Ver", missing);
    addMissingFiles(document, "Time", missing);
    return missing;
}

LoadedInformation loadUpdateInformation(const std::string& path,
                                        const std::optional<PublicKey>& key,
                                        const std::optional<std::string>& signature) {
    platform::ReadResult file =
        platform::readWholeFile(path, kMaxProfileFileBytes, platform::LinkPolicy::NoFollow);
    if (!file.bytes && file.tooLarge) {
        return refused(InformationRefusal::TooLarge, file.error);
    }
    if (!file.bytes && !file.missing) {
        return refused(InformationRefusal::Unreadable, file.error);
    }
    std::string bytes = file.bytes ? std::move(*file.bytes) : std::string();
    if (key) {
        const SignatureStatus status = checkSignature(bytes, signature, *key);
        if (status != SignatureStatus::Valid) {
            return refused(status == SignatureStatus::Missing ? InformationRefusal::NotSigned
                                                              : InformationRefusal::BadSignature,
                           describe(status));
        }
    }
    LoadedInformation loaded;
    loaded.document = ProfileDocument::parse(std::move(bytes), platform::systemCodePage());
    if (key) {
        if (const auto missing = missingDigests(loaded.document); !missing.empty()) {
            return refused(InformationRefusal::MissingDigests, "no digest for " + listed(missing));
        }
    }
    return loaded;
}

}  // namespace upd::wizard
