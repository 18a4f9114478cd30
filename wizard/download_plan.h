// The download plan: what Next on the analysis page decides to download, from the analysed
// update information, the files in the application folder and the updater's own version.
// Toolkit-free; the page, updtool and unattended runs all call makeDownloadPlan.
//
// In this order of precedence:
//   1. [Update] ForceUp=1 and the user agrees: the full package (UpURL -> "Setup.zip");
//   2. [Update] Update=1 and the running updater is older than UpdateVer: the updater
//      ("update.exe"), and "FileMove.exe" when it is older than MoveVer;
//   3. otherwise every [Ver] entry older than announced, then every [Time] entry newer on
//      the server than the local file's last write (or missing locally).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/language.h"
#include "wizard/file_forms.h"
#include "wizard/update_info.h"

namespace upd::wizard {

// Where the wizard goes after the plan is made.
enum class PlanNext {
    Download,  // the download page, with StartPending set
    Finish,    // nothing is out of date: the finish page
    Stay,      // the full package was declined: nothing happens, update.ini stays
};

struct PlanRow {
    std::string source;       // PlanList: relative to the server address, or a full URL
    std::string target;       // download list: relative to the update and program folders
    std::string description;  // sub-item 1 of both
    int image = 0;            // both image indexes: 1 for the full package, 0 otherwise
    std::string sha256;       // the announced digest (lower-case hex), or "" for none
    // The announced length in bytes (announced_size.h): Size<n>, UpSize, UpdateSize or
    // MoveSize; nothing for none. The download never grows past it.
    std::optional<std::int64_t> size{};
    // The smaller forms it may be fetched in (file_forms.h); none for the full package.
    std::vector<FileForm> forms{};
};

struct DownloadPlan {
    std::vector<PlanRow> rows;
    PlanNext next = PlanNext::Finish;
    // Set when the plan could not be made (a non-numeric ForceUp or Update, an announced
    // date that cannot be read for an existing file, a size that is no size, whether or not
    // its file is planned); `rows` is then empty.
    std::optional<std::string> failure;

    explicit operator bool() const { return !failure; }
};

struct PlanRequest {
    std::string appFolder;       // with a trailing '/'
    std::string selfVersionKey;  // the running updater's ProductVersion key
    std::string serverAddress;   // the chosen server (page 1's Text1)
    platform::LangId textLanguage = platform::kLangEnglishUS;  // descriptions 126, 128, 129
    // Asked only when ForceUp=1, with the question text (strings 124 and 125); true to
    // download the full package.
    std::function<bool(const std::string& question)> confirmFullPackage;
};

// The [Update] keys come from info.ini, read from info.document: the bytes that were analysed
// (and verified).
DownloadPlan makeDownloadPlan(const UpdateInformation& info, const PlanRequest& request);

// The base of the updater's sources: ParentUrl of the address, or the address without its
// trailing "/" when it has no parent ("http://host:8080/" gives "http://host:8080").
std::string updaterBase(std::string_view serverAddress);

}  // namespace upd::wizard
