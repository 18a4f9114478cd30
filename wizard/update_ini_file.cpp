#include "wizard/update_ini_file.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "app/number_text.h"
#include "platform/language.h"
#include "wizard/file_version.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

IniValue readValue(const ProfileDocument& document, std::string_view section,
                   std::string_view key) {
    IniValue value;
    if (auto found = document.findLocated(section, key)) {
        value.text = std::move(found->value);
        value.line = found->line;
        value.present = true;
    }
    return value;
}

FileSection readFileSection(const ProfileDocument& document, std::string_view name,
                            std::string_view valuePrefix) {
    FileSection section;
    section.name = name;
    section.valuePrefix = valuePrefix;
    section.line = document.sectionLine(name).value_or(0);
    section.num = readValue(document, name, kNumKey);
    section.count = app::wholeNumberFromText(section.num.text);
    if (!section.count || *section.count < 1) {
        return section;
    }
    // Above the bound the file is refused anyway; the bound keeps a hostile Num from costing
    // more than that many lookups.
    const std::int64_t last = std::min(*section.count, kMaxFileEntries);
    section.entries.reserve(static_cast<std::size_t>(last));
    for (std::int64_t n = 1; n <= last; ++n) {
        FileEntry& entry = section.entries.emplace_back(
            FileEntry{readValue(document, name, fileKey(n)),
                      readValue(document, name, numberedKey(valuePrefix, n)),
                      readValue(document, name, sha256Key(n)),
                      readValue(document, name, sizeKey(n)),
                      readValue(document, name, numberedKey(kZstSha256Prefix, n)),
                      readValue(document, name, numberedKey(kZstSizePrefix, n)),
                      {}});
        // Patches are numbered from 1 without gaps: the first k with none of its keys ends them.
        for (int k = 1; k <= kMaxPatches; ++k) {
            PatchEntry patch{readValue(document, name, patchKey(kPatchBasePrefix, n, k)),
                             readValue(document, name, patchKey(kPatchSha256Prefix, n, k)),
                             readValue(document, name, patchKey(kPatchSizePrefix, n, k))};
            if (!patch.base.present && !patch.sha256.present && !patch.size.present) {
                break;
            }
            entry.patches.push_back(std::move(patch));
        }
    }
    return section;
}

std::string_view englishTag() {
    return platform::languageProfile(platform::kLangEnglishUS).tag;
}

std::string_view chineseTag() {
    return platform::languageProfile(platform::kLangChineseSimplified).tag;
}

bool flagSet(const IniValue& flag) {
    const FlagReading reading = readFlag(flag);
    return reading.value && *reading.value == 1;
}

}  // namespace

const IniValue& UpdateSection::contents(std::string_view tag) const {
    static const IniValue absent{};
    if (tag == englishTag()) {
        return contentsEn;
    }
    if (tag == chineseTag()) {
        return contentsChs;
    }
    return absent;
}

UpdateIniFile readUpdateIni(const ProfileDocument& document) {
    UpdateIniFile file;
    UpdateSection& update = file.update;
    const auto readKey = [&](std::string_view key) {
        return readValue(document, kUpdateSection, key);
    };
    update.line = document.sectionLine(kUpdateSection).value_or(0);
    update.forceUp = readKey(kForceUpKey);
    update.upUrl = readKey(kUpUrlKey);
    update.update = readKey(kUpdateKey);
    update.updateVer = readKey(kUpdateVerKey);
    update.moveVer = readKey(kMoveVerKey);
    update.upSha256 = readKey(kUpSha256Key);
    update.updateSha256 = readKey(kUpdateSha256Key);
    update.moveSha256 = readKey(kMoveSha256Key);
    update.upSize = readKey(kUpSizeKey);
    update.updateSize = readKey(kUpdateSizeKey);
    update.moveSize = readKey(kMoveSizeKey);
    update.updateZstSha256 = readKey(kUpdateZstSha256Key);
    update.updateZstSize = readKey(kUpdateZstSizeKey);
    update.moveZstSha256 = readKey(kMoveZstSha256Key);
    update.moveZstSize = readKey(kMoveZstSizeKey);
    update.serial = readKey(kSerialKey);
    update.expires = readKey(kExpiresKey);
    update.ver = readKey(kReleaseVersionKey);
    update.time = readKey(kReleaseTimeKey);
    update.contentsEn = readKey(contentsKey(englishTag()));
    update.contentsChs = readKey(contentsKey(chineseTag()));
    file.ver = readFileSection(document, kVerSection, kVersionPrefix);
    file.time = readFileSection(document, kTimeSection, kDatePrefix);
    return file;
}

std::string descriptionText(const ProfileDocument& document, std::string_view extension,
                            std::string_view tag) {
    std::string text = document.value(kDescriptSection, descriptionKey(extension, tag));
    if (text.empty()) {
        text = document.value(kDescriptSection, descriptionKey(extension));
    }
    return text;
}

FlagReading readFlag(const IniValue& flag) {
    const auto value = app::wholeNumberFromText(flag.text);
    if (!value) {
        return {std::nullopt, FlagProblem::NotANumber};
    }
    if (*value < std::numeric_limits<std::int16_t>::min() ||
        *value > std::numeric_limits<std::int16_t>::max()) {
        return {std::nullopt, FlagProblem::OutOfRange};
    }
    return {static_cast<std::int16_t>(*value), FlagProblem::None};
}

std::string MissingDigest::text() const {
    return "[" + std::string(section) + "] " + key;
}

std::vector<MissingDigest> missingDigestKeys(const UpdateIniFile& file) {
    std::vector<MissingDigest> missing;
    const UpdateSection& update = file.update;
    if (flagSet(update.forceUp) && update.upSha256.text.empty()) {
        missing.push_back({kUpdateSection, std::string(kUpSha256Key), 0});
    }
    if (flagSet(update.update)) {
        if (update.updateSha256.text.empty()) {
            missing.push_back({kUpdateSection, std::string(kUpdateSha256Key), 0});
        }
        // An empty MoveVer never plans FileMove.exe: nothing is older than "".
        if (!RemoveChar(update.moveVer.text, ".").empty() && update.moveSha256.text.empty()) {
            missing.push_back({kUpdateSection, std::string(kMoveSha256Key), 0});
        }
    }
    for (const FileSection* section : {&file.ver, &file.time}) {
        for (std::size_t i = 0; i < section->entries.size(); ++i) {
            if (section->entries[i].sha256.text.empty()) {
                const auto n = static_cast<std::int64_t>(i + 1);
                missing.push_back({section->name, sha256Key(n), n});
            }
        }
    }
    return missing;
}

}  // namespace upd::wizard
