#include "wizard/information_file.h"

#include <utility>

#include "platform/code_page.h"
#include "platform/read_whole_file.h"
#include "wizard/update_ini_file.h"
#include "wizard/update_ini_schema.h"

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

StampCheck checkReleaseStamp(const UpdateSection& update, const AcceptedSerial& accepted,
                             std::int64_t now) {
    StampCheck check;
    const auto stampRefusal = [&check](InformationRefusal refusal, std::string reason) {
        check.refusal = refusal;
        check.reason = std::move(reason);
        return check;
    };
    const auto absent = [](const IniValue& value) { return !value.present || value.text.empty(); };
    if (absent(update.serial) || absent(update.expires)) {
        const std::string_view name = absent(update.serial) ? kSerialKey : kExpiresKey;
        return stampRefusal(InformationRefusal::BadStamp, "no " + std::string(name) + " in [" +
                                                              std::string(kUpdateSection) + "]");
    }
    check.serial = parseSerial(update.serial.text);
    if (!check.serial) {
        return stampRefusal(InformationRefusal::BadStamp,
                            "Serial \"" + update.serial.text +
                                "\" is not a whole number from 1 to 9223372036854775807");
    }
    check.expires = parseExpires(update.expires.text);
    if (!check.expires) {
        return stampRefusal(
            InformationRefusal::BadStamp,
            "Expires \"" + update.expires.text + "\" is not a UTC time \"YYYY-MM-DD HH:MM:SS\"");
    }
    // At the very second of Expires it still holds; the second after, not.
    if (now > *check.expires) {
        return stampRefusal(InformationRefusal::Expired,
                            "it expired at " + expiresText(*check.expires) + " UTC");
    }
    if (!accepted) {
        return stampRefusal(InformationRefusal::SerialFileUnusable, accepted.error);
    }
    // Equal is the same release fetched again; lower is an older one served as current.
    if (accepted.highest && *check.serial < *accepted.highest) {
        return stampRefusal(InformationRefusal::OlderSerial,
                            "Serial " + std::to_string(*check.serial) + " is below " +
                                std::to_string(*accepted.highest) + ", which was accepted before");
    }
    return check;
}

void recordAcceptedSerial(LoadedInformation& loaded, const std::string& serialFile) {
    if (!loaded || !loaded.serial) {
        return;
    }
    if (std::string error = writeSerialFile(serialFile, *loaded.serial); !error.empty()) {
        loaded = refused(InformationRefusal::SerialNotRecorded, std::move(error));
    }
}

LoadedInformation loadUpdateInformation(const std::string& path, std::nullopt_t, std::nullopt_t) {
    return loadUpdateInformation(path, {}, std::nullopt, ReleaseHistory{});
}

LoadedInformation loadUpdateInformation(const std::string& path, std::span<const PublicKey> keys,
                                        const std::optional<std::string>& signature,
                                        const ReleaseHistory& history) {
    const bool key = !keys.empty();
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
        const SignatureStatus status = checkSignature(bytes, signature, keys);
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
        const StampCheck stamp =
            checkReleaseStamp(loaded.ini.update, history.accepted, history.now);
        if (stamp.refusal != InformationRefusal::None) {
            LoadedInformation refusal = refused(stamp.refusal, stamp.reason);
            if (stamp.refusal == InformationRefusal::Expired) {
                refusal.expires = stamp.expires;
            }
            return refusal;
        }
        loaded.serial = stamp.serial;
        loaded.expires = stamp.expires;
    }
    return loaded;
}

}  // namespace upd::wizard
