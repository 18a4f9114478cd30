// update.ini made from a release folder, the way the wizard reads it back (`updtool make-ini`):
//
//   RELEASE/Main.exe            has a ProductVersion -> [Ver]  File1=Main.exe, Ver1=2.1.0.4
//   RELEASE/data/Templates.dat  has none             -> [Time] File1=data\Templates.dat,
//                                                              Date1=2026-12-01 18:30:00
//   RELEASE/update.exe, FileMove.exe, Setup.zip      -> [Update] UpdateSha256, MoveSha256,
//                                                              UpSha256
// Every entry gets its Sha256<n> and Size<n> (the three files above UpSize, UpdateSize and
// MoveSize), every extension a [Descript] pair (EXE=Program, EXECHS=...).
//
// The bytes follow the wizard's reader (wizard/profile_file.h): no byte-order mark, CR LF
// lines, ContentsCHS and the EXTCHS descriptions in code page 936, everything else in 1252;
// the wizard reads the values of its own language in the system code page. A value with
// blanks at its ends is written in quotes, which the reader removes.
//
// Dates are written in local standard time (the zone of TZ, daylight saving left out), as
// the wizard reads the last-write time of its own copy (wizard/announced_date.h): a copy of
// the release file, with its time kept, reads as exactly the announced date.
//
// Every file the wizard may download gets its digest, since a wizard with update.pub refuses a
// signed set that lacks one: offering the new updater, FileMove.exe or the full package
// without that file at hand to digest is a failure, not a set written without its digest.
//
// Failures are values: a name the wizard cannot take (outside ASCII, a number, too long), an
// unreadable file, a text that the code page cannot hold or that the reader would cut, an
// offered file that is not at hand. Names in messages have their control bytes written as
// \xNN (platform/printable_text.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upd::wizard {

struct ReleaseEntry {
    std::string name;  // as update.ini gives it: "plugins\Report.dll"
    std::string path;  // the file on disk
};

struct ReleaseListing {
    // Files for [Ver] and [Time], in byte order of their names; the updater's files and the
    // package are not among them.
    std::vector<ReleaseEntry> files;
    std::optional<ReleaseEntry> updater;  // update.exe at the top
    std::optional<ReleaseEntry> mover;    // FileMove.exe at the top
    std::optional<ReleaseEntry> package;  // Setup.zip at the top
    // Left out on purpose, each as "NAME: why" (hidden names, links to folders, ...); NAME in
    // its printable form.
    std::vector<std::string> leftOut;
    // Names update.ini cannot carry, each as "NAME: why" (printable form), and folders that
    // cannot be read.
    std::vector<std::string> refused;
};

// Lists `folder` recursively. Left out: update.ini at the top, *.sig files, the smaller forms
// make-ini writes beside the files (*.zst, *.zpatch), names starting with "." (hidden files
// and folders), links to folders, and anything but regular files.
ReleaseListing listReleaseFiles(const std::string& folder);

// A smaller form of a file, served beside it (publishing/release_forms.h).
struct ServedForm {
    std::string sha256;  // of the form's own bytes, lower-case hex
    std::int64_t size{};
};

// The file as a patch against the installed file of `baseSha256`.
struct ServedPatch {
    std::string baseSha256;
    ServedForm form;
};

struct ReleaseFile {
    std::string name;
    std::string version;       // the dotted ProductVersion ("2.1.0.4"); empty for [Time]
    std::int64_t writeTime{};  // local standard time, calendar seconds (for [Time])
    std::string sha256;        // lower-case hex
    std::int64_t size{};       // bytes
    std::string path{};        // the file that was read
    // Announced right after Size<n>: ZstSha256<n> and ZstSize<n> (UpdateZst*, MoveZst* for the
    // updater and its helper), then each patch k = index + 1 as PatchBase<n>_<k>,
    // PatchSha256<n>_<k> and PatchSize<n>_<k>.
    std::optional<ServedForm> zst{};
    std::vector<ServedPatch> patches{};
};

struct ReleaseFolder {
    std::vector<ReleaseFile> byVersion;
    std::vector<ReleaseFile> byDate;
    std::optional<ReleaseFile> updater;
    std::optional<ReleaseFile> mover;
    std::optional<ReleaseFile> package;
    std::vector<std::string> leftOut;
};

struct ReleaseScan {
    ReleaseFolder folder;
    std::optional<std::string> failure;  // every reason, one per line

    explicit operator bool() const { return !failure; }
};

// Reads every file of the listing: version, last-write time and digest.
ReleaseScan scanReleaseFolder(const std::string& folder);

// One file read as scanReleaseFolder reads each: its digest, and its version (`byVersion`; a
// file without one gets its last-write time) or its last-write time. For the updater or the
// package kept outside the release folder (updtool make-ini --update-exe). Nothing when it
// cannot be read, with "NAME: why" in `failure`.
std::optional<ReleaseFile> readReleaseFile(const ReleaseEntry& entry, bool byVersion,
                                           std::string& failure);

struct UpdateIniOptions {
    std::optional<std::string> version;  // [Update] Ver; default: the highest of [Ver]
    std::string releaseTime;             // [Update] Time, shown beside the version
    std::string contentsEn;              // "item,item,..."
    std::string contentsChs;
    // Update=1 with this UpdateVer; needs ReleaseFolder::updater.
    std::optional<std::string> updateVer;
    // Needs ReleaseFolder::mover when given; default: the mover's version, when there is one.
    std::optional<std::string> moveVer;
    // ForceUp=1 with this http:// or https:// UpURL; needs ReleaseFolder::package.
    std::optional<std::string> forceUpUrl;
    // [Update] Serial and Expires (seconds since 1970, UTC; wizard/release_serial.h), which a
    // wizard with update.pub requires; neither key is written when not given.
    std::optional<std::int64_t> serial;
    std::optional<std::int64_t> expires;
};

struct UpdateIniText {
    std::string bytes;
    std::optional<std::string> failure;  // every reason, one per line; `bytes` is then empty

    explicit operator bool() const { return !failure; }
};

UpdateIniText makeUpdateIni(const ReleaseFolder& folder, const UpdateIniOptions& options);

// "YYYY-MM-DD HH:MM:SS" of calendar seconds (wizard/announced_date.h), which
// parseAnnouncedDate reads back to the same value.
std::string announcedDateText(std::int64_t calendarSeconds);

}  // namespace upd::wizard
