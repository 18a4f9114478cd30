// The names of update.ini, each written once: the wizard's analysis and plan, the check of a
// signed set, updtool's lint and make-ini all take them from here, so none of them can look for
// a key under a spelling the others do not write. What the keys mean is in update_info.h and
// download_plan.h; wizard/update_ini_file.h reads them all into one struct.
//
//   [Update]   Ver, Time, Contents<tag>, ForceUp, UpURL, Update, UpdateVer, MoveVer,
//              UpSha256, UpdateSha256, MoveSha256, UpSize, UpdateSize, MoveSize,
//              Serial, Expires
//              UpdateZstSha256, UpdateZstSize, MoveZstSha256, MoveZstSize
//   [Ver]      Num, File<n>, Ver<n>, Sha256<n>, Size<n>, ZstSha256<n>, ZstSize<n>,
//              PatchBase<n>_<k>, PatchSha256<n>_<k>, PatchSize<n>_<k>
//   [Time]     the same with Date<n> for Ver<n>
//   [Descript] <EXT><tag>, <EXT>
//   (<tag>: the language's, platform::languageProfile; <n> from 1, without leading zeros)
//
// Names match without regard to ASCII case when read (profile_document.h); these spellings are
// the ones written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upd::wizard {

// ---- Sections ----
inline constexpr std::string_view kUpdateSection = "Update";
inline constexpr std::string_view kVerSection = "Ver";
inline constexpr std::string_view kTimeSection = "Time";
inline constexpr std::string_view kDescriptSection = "Descript";

// ---- [Update] ----
inline constexpr std::string_view kReleaseVersionKey = "Ver";  // shown: "V <Ver> (<Time>)"
inline constexpr std::string_view kReleaseTimeKey = "Time";
inline constexpr std::string_view kContentsPrefix = "Contents";  // Contents<tag>
inline constexpr std::string_view kForceUpKey = "ForceUp";
inline constexpr std::string_view kUpUrlKey = "UpURL";
inline constexpr std::string_view kUpdateKey = "Update";
inline constexpr std::string_view kUpdateVerKey = "UpdateVer";
inline constexpr std::string_view kMoveVerKey = "MoveVer";
inline constexpr std::string_view kUpSha256Key = "UpSha256";
inline constexpr std::string_view kUpdateSha256Key = "UpdateSha256";
inline constexpr std::string_view kMoveSha256Key = "MoveSha256";
// The lengths in bytes of those three files.
inline constexpr std::string_view kUpSizeKey = "UpSize";
inline constexpr std::string_view kUpdateSizeKey = "UpdateSize";
inline constexpr std::string_view kMoveSizeKey = "MoveSize";
// The updater and its helper offered zstd-compressed ("update.exe.zst" beside update.exe).
inline constexpr std::string_view kUpdateZstSha256Key = "UpdateZstSha256";
inline constexpr std::string_view kUpdateZstSizeKey = "UpdateZstSize";
inline constexpr std::string_view kMoveZstSha256Key = "MoveZstSha256";
inline constexpr std::string_view kMoveZstSizeKey = "MoveZstSize";
// Of signed information: a number the vendor raises with every release, and the UTC time
// ("YYYY-MM-DD HH:MM:SS") after which it is no longer taken.
inline constexpr std::string_view kSerialKey = "Serial";
inline constexpr std::string_view kExpiresKey = "Expires";

// The files those keys stand for, under the names they are fetched and installed as:
// UpURL/UpSha256 the full package, UpdateVer/UpdateSha256 the updater, MoveVer/MoveSha256
// its helper.
inline constexpr std::string_view kPackageFileName = "Setup.zip";
inline constexpr std::string_view kUpdaterFileName = "update.exe";
inline constexpr std::string_view kMoverFileName = "FileMove.exe";

// ---- [Ver] and [Time] ----
inline constexpr std::string_view kNumKey = "Num";
inline constexpr std::string_view kFilePrefix = "File";      // File<n>
inline constexpr std::string_view kVersionPrefix = "Ver";    // Ver<n>, in [Ver]
inline constexpr std::string_view kDatePrefix = "Date";      // Date<n>, in [Time]
inline constexpr std::string_view kSha256Prefix = "Sha256";  // Sha256<n>, in both
inline constexpr std::string_view kSizePrefix = "Size";      // Size<n>, in both
// A file on the server may also be offered smaller, each form with its own digest and size:
//   zstd-compressed, as "<File<n>>.zst" beside it: ZstSha256<n>, ZstSize<n>;
//   as a patch against an installed file whose SHA-256 is PatchBase<n>_<k> (k from 1 to
//   kMaxPatches), as "<File<n>>.<the first 16 hex digits of that digest>.zpatch" beside it
//   (zstd with the installed file as its prefix): PatchSha256<n>_<k>, PatchSize<n>_<k>.
// Either form, decompressed, is the file of Sha256<n> and Size<n>, which it needs.
inline constexpr std::string_view kZstSha256Prefix = "ZstSha256";
inline constexpr std::string_view kZstSizePrefix = "ZstSize";
inline constexpr std::string_view kPatchBasePrefix = "PatchBase";
inline constexpr std::string_view kPatchSha256Prefix = "PatchSha256";
inline constexpr std::string_view kPatchSizePrefix = "PatchSize";
inline constexpr int kMaxPatches = 5;
inline constexpr std::string_view kZstSuffix = ".zst";
inline constexpr std::string_view kPatchSuffix = ".zpatch";

// The most entries a section may announce (a 16-bit count): a larger Num refuses the whole
// file, so nothing reads past it.
inline constexpr std::int64_t kMaxFileEntries = 32767;

// A numbered key: numberedKey("File", 12) is "File12".
inline std::string numberedKey(std::string_view prefix, std::int64_t n) {
    return std::string(prefix) + std::to_string(n);
}
inline std::string fileKey(std::int64_t n) {
    return numberedKey(kFilePrefix, n);
}
inline std::string versionKey(std::int64_t n) {
    return numberedKey(kVersionPrefix, n);
}
inline std::string dateKey(std::int64_t n) {
    return numberedKey(kDatePrefix, n);
}
inline std::string sha256Key(std::int64_t n) {
    return numberedKey(kSha256Prefix, n);
}
inline std::string sizeKey(std::int64_t n) {
    return numberedKey(kSizePrefix, n);
}

// A patch's key: patchKey("PatchBase", 3, 2) is "PatchBase3_2".
inline std::string patchKey(std::string_view prefix, std::int64_t n, int k) {
    return numberedKey(prefix, n) + "_" + std::to_string(k);
}
// The name on the server of the patch of `file` against the installed file of `baseDigest`.
inline std::string patchName(std::string_view file, std::string_view baseDigest) {
    return std::string(file) + "." + std::string(baseDigest.substr(0, 16)) +
           std::string(kPatchSuffix);
}
// "ContentsEN", "ContentsCHS".
inline std::string contentsKey(std::string_view tag) {
    return std::string(kContentsPrefix) + std::string(tag);
}

// [Descript]: "EXECHS" for the tagged text, "EXE" (no tag) for the one of every language.
inline std::string descriptionKey(std::string_view extension, std::string_view tag = {}) {
    return std::string(extension) + std::string(tag);
}

}  // namespace upd::wizard
