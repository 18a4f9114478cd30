// The smaller forms `updtool make-ini` offers beside a release's files (publishing/zstd_codec.h):
//
//   --compress         RELEASE/data/t.dat -> RELEASE/data/t.dat.zst       ZstSha256<n>, ZstSize<n>
//                      (update.exe and FileMove.exe too when the updater is offered:
//                      UpdateZstSha256, UpdateZstSize, MoveZstSha256, MoveZstSize)
//   --base OLD_DIR     OLD_DIR/data/t.dat differs -> RELEASE/data/t.dat.<16 hex>.zpatch
//                      PatchBase<n>_<k>, PatchSha256<n>_<k>, PatchSize<n>_<k>, k in the order of
//                      the bases; bases holding the same file give one patch
//
// A form is kept only when worthOffering says so; one that is not is removed, so the folder
// holds only what update.ini announces. Files larger than kMaxPatchedFileBytes, on either
// side, get no patch.
//
// Failures are values: a file or base that cannot be read, a form that cannot be written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "publishing/update_ini_writer.h"

namespace upd::wizard {

struct FormOptions {
    bool compress = false;
    // Also compress the updater and its helper (make-ini --update-ver offers them).
    bool compressUpdater = false;
    // The folders of earlier releases, as installed (at most kMaxPatches).
    std::vector<std::string> baseFolders;
};

struct FormsMade {
    // Forms made but not offered, each "NAME: why" (printable form).
    std::vector<std::string> notes;
    std::optional<std::string> failure;  // every reason, one per line

    explicit operator bool() const { return !failure; }
};

// Writes the forms into `releaseFolder`, where each file's name on the server puts them, and
// records the kept ones in `folder` (ReleaseFile::zst and ::patches).
FormsMade makeReleaseForms(const std::string& releaseFolder, ReleaseFolder& folder,
                           const FormOptions& options);

}  // namespace upd::wizard
