#include "wizard/download_plan.h"

#include <set>

#include "app/string_table.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "wizard/announced_date.h"
#include "wizard/announced_size.h"
#include "wizard/file_version.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_file.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

constexpr int kFullPackQuestion = 124;
constexpr int kDownloadNowQuestion = 125;
constexpr int kFullPack = 126;
constexpr int kUpdater = 128;
constexpr int kUpdateAssistant = 129;

constexpr const char* kTypeMismatch = "Type mismatch";

// A 16-bit flag of [Update]: nothing when it is not a number in range.
std::optional<std::int16_t> flagValue(const IniValue& flag, std::string& failure,
                                      std::string_view key) {
    const FlagReading reading = readFlag(flag);
    const std::string keyText =
        "[" + std::string(kUpdateSection) + "] " + std::string(key) + "=\"" + flag.text + "\"";
    switch (reading.problem) {
        case FlagProblem::NotANumber:
            failure = std::string(kTypeMismatch) + ": " + keyText;
            break;
        case FlagProblem::OutOfRange:
            failure = "Overflow: " + keyText;
            break;
        case FlagProblem::None:
            break;
    }
    return reading.value;
}

std::string localPath(const std::string& appFolder, const std::string& name) {
    return platform::hostPathUnder(appFolder, name).path;
}

DownloadPlan failed(std::string failure) {
    DownloadPlan plan;
    plan.failure = std::move(failure);
    return plan;
}

using Sizes = std::vector<std::optional<std::int64_t>>;

// The key's size into `size`; false, with the reason in `failure`, when it is there but is
// no size ("UpSize=12k", "Size3=").
bool readSize(const IniValue& value, const std::string& key, std::optional<std::int64_t>& size,
              std::string& failure) {
    const SizeReading reading = readAnnouncedSize(value);
    if (reading.malformed) {
        failure = key + " " + malformedSizeText(value.text);
        return false;
    }
    size = reading.size;
    return true;
}

// Size<n> of every entry, at index n - 1 (the analysis made one list row per entry, in order).
// Every one is judged, planned or not, as the digests are: a file that is current today is
// out of date tomorrow.
bool readEntrySizes(const FileSection& section, Sizes& sizes, std::string& failure) {
    sizes.resize(section.entries.size());
    for (std::size_t i = 0; i < section.entries.size(); ++i) {
        const std::string key =
            "[" + std::string(section.name) + "] " + sizeKey(static_cast<std::int64_t>(i + 1));
        if (!readSize(section.entries[i].size, key, sizes[i], failure)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string updaterBase(std::string_view serverAddress) {
    std::string base = ParentUrl(serverAddress);
    if (base.empty()) {
        // Without a parent the sources would become "/update.exe", which the download page
        // takes for an ordinary file of the application.
        base = serverAddress;
        while (!base.empty() && base.back() == '/') {
            base.pop_back();
        }
    }
    return base;
}

DownloadPlan makeDownloadPlan(const UpdateInformation& info, const PlanRequest& request) {
    const UpdateSection& ini = info.ini.update;
    const auto text = [&](int id) { return app::LoadResString(id, request.textLanguage); };

    std::string failure;
    const auto forceUp = flagValue(ini.forceUp, failure, kForceUpKey);
    if (!forceUp) {
        return failed(failure);
    }
    const std::string& upUrl = ini.upUrl.text;
    const auto update = flagValue(ini.update, failure, kUpdateKey);
    if (!update) {
        return failed(failure);
    }
    const std::string& updateVer = ini.updateVer.text;
    const std::string& moveVer = ini.moveVer.text;
    const std::string& upSha256 = ini.upSha256.text;
    const std::string& updateSha256 = ini.updateSha256.text;
    const std::string& moveSha256 = ini.moveSha256.text;
    for (const auto& [key, digest] :
         {std::pair{kUpSha256Key, &upSha256}, std::pair{kUpdateSha256Key, &updateSha256},
          std::pair{kMoveSha256Key, &moveSha256}}) {
        if (!digest->empty() && !isSha256Hex(*digest)) {
            return failed("[" + std::string(kUpdateSection) + "] " + std::string(key) +
                          " is not 64 lower-case hexadecimal digits");
        }
    }

    std::optional<std::int64_t> upSize, updateSize, moveSize;
    Sizes versionSizes, dateSizes;
    const std::string header = "[" + std::string(kUpdateSection) + "] ";
    if (!readSize(ini.upSize, header + std::string(kUpSizeKey), upSize, failure) ||
        !readSize(ini.updateSize, header + std::string(kUpdateSizeKey), updateSize, failure) ||
        !readSize(ini.moveSize, header + std::string(kMoveSizeKey), moveSize, failure) ||
        !readEntrySizes(info.ini.ver, versionSizes, failure) ||
        !readEntrySizes(info.ini.time, dateSizes, failure)) {
        return failed(failure);
    }

    DownloadPlan plan;
    if (*forceUp == 1) {
        const std::string question = text(kFullPackQuestion) + "\r\n" + text(kDownloadNowQuestion);
        if (!request.confirmFullPackage || !request.confirmFullPackage(question)) {
            plan.next = PlanNext::Stay;
            return plan;
        }
        plan.rows.push_back(
            {upUrl, std::string(kPackageFileName), text(kFullPack), 1, upSha256, upSize});
        plan.next = PlanNext::Download;
        return plan;
    }

    if (*update == 1 && isOlderVersion(request.selfVersionKey, RemoveChar(updateVer, "."))) {
        const std::string base = updaterBase(request.serverAddress);
        const std::string updater(kUpdaterFileName);
        const std::string mover(kMoverFileName);
        plan.rows.push_back({base + "/" + updater, updater, text(kUpdater), 0, updateSha256,
                             updateSize,
                             readCompressedForm(ini.updateSha256, ini.updateSize,
                                                ini.updateZstSha256, ini.updateZstSize)});
        const std::string moveKey = GetFileVersionText(request.appFolder + mover, "ProductVersion");
        if (isOlderVersion(moveKey, RemoveChar(moveVer, "."))) {
            plan.rows.push_back({base + "/" + mover, mover, text(kUpdateAssistant), 0, moveSha256,
                                 moveSize,
                                 readCompressedForm(ini.moveSha256, ini.moveSize, ini.moveZstSha256,
                                                    ini.moveZstSize)});
        }
        plan.next = PlanNext::Download;
        return plan;
    }

    // A file out of date by version and by date is planned once, as its version entry.
    std::set<std::string, std::less<>> planned;
    const auto addFile = [&](const controls::ListModel& list,
                             const std::vector<std::string>& digests, const Sizes& sizes,
                             const FileSection& section, int row) {
        const std::string& name = list.row(row).text;
        if (planned.insert(name).second) {
            const auto index = static_cast<std::size_t>(row - 1);
            plan.rows.push_back({name, name, list.subItem(row, 2), 0,
                                 index < digests.size() ? digests[index] : std::string(),
                                 index < sizes.size() ? sizes[index] : std::nullopt,
                                 index < section.entries.size()
                                     ? readFileForms(section.entries[index])
                                     : std::vector<FileForm>{}});
        }
    };
    for (int row = 1; row <= info.VersionList.rowCount(); ++row) {
        const std::string localKey = GetFileVersionText(
            localPath(request.appFolder, info.VersionList.row(row).text), "ProductVersion");
        if (isOlderVersion(localKey, RemoveChar(info.VersionList.subItem(row, 1), "."))) {
            addFile(info.VersionList, info.VersionDigests, versionSizes, info.ini.ver, row);
        }
    }
    for (int row = 1; row <= info.DateList.rowCount(); ++row) {
        const auto local =
            localStandardWriteTime(localPath(request.appFolder, info.DateList.row(row).text));
        if (!local) {
            addFile(info.DateList, info.DateDigests, dateSizes, info.ini.time, row);
            continue;
        }
        const std::string& announcedText = info.DateList.subItem(row, 1);
        const auto announced = parseAnnouncedDate(announcedText);
        if (!announced) {
            return failed(std::string(kTypeMismatch) + ": [" + std::string(kTimeSection) +
                          "] date \"" + announcedText + "\" of " + info.DateList.row(row).text);
        }
        if (*announced - *local > 0) {
            addFile(info.DateList, info.DateDigests, dateSizes, info.ini.time, row);
        }
    }
    plan.next = plan.rows.empty() ? PlanNext::Finish : PlanNext::Download;
    return plan;
}

}  // namespace upd::wizard
