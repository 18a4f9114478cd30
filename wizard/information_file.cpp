#include "wizard/information_file.h"

#include "platform/code_page.h"
#include "platform/read_whole_file.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard {
namespace {

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

std::vector<std::string> missingDigests(const UpdateIniFile& ini) {
    std::vector<std::string> keys;
    for (const MissingDigest& missing : missingDigestKeys(ini)) {
        keys.push_back(missing.text());
    }
    return keys;
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
    loaded.ini = readUpdateIni(loaded.document);
    if (key) {
        if (const auto missing = missingDigests(loaded.ini); !missing.empty()) {
            return refused(InformationRefusal::MissingDigests, "no digest for " + listed(missing));
        }
    }
    return loaded;
}

}  // namespace upd::wizard
