// The smaller forms a planned file may be fetched in (update_ini_schema.h): a patch against
// the installed file, or the file compressed. Either is fetched and checked against its own
// announced digest and size, then decoded into the update folder as the whole file would have
// arrived, and that result must give the whole file's announced digest before it counts, so a
// form never weakens what is installed: at worst it costs a fallback to the whole file.
// Toolkit-free: the plan, the download page, updtool's plan and the unattended run share it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wizard/update_ini_file.h"

namespace upd::wizard {

struct FileForm {
    enum class Kind { Patch, Compressed };
    Kind kind = Kind::Compressed;
    std::string base;    // Patch: the SHA-256 of the installed file it applies to
    std::string sha256;  // of the form's own bytes
    std::int64_t size = 0;

    bool operator==(const FileForm&) const = default;
};

// The forms of an entry whose whole file announces its digest and size (without them a
// decoded result could not be checked, and nothing is offered). A form with a malformed digest,
// base or size is left out: the whole file is still there to fetch, and lint reports it.
// Patches first, in their order, then the compressed form.
std::vector<FileForm> readFileForms(const FileEntry& entry);
// The same for the updater or its helper ([Update] keys).
std::vector<FileForm> readCompressedForm(const IniValue& fileSha256, const IniValue& fileSize,
                                         const IniValue& zstSha256, const IniValue& zstSize);

// The form to fetch for an installed file of `installedSha256` ("" when there is none or it
// could not be read): the patch made against it, else the compressed form; nothing: the
// whole file.
std::optional<FileForm> chooseForm(const std::vector<FileForm>& forms,
                                   const std::string& installedSha256);
// Whether choosing needs the installed file's digest: a patch is offered.
bool offersPatch(const std::vector<FileForm>& forms);

// The form's name on the server beside the file's own `source`.
std::string formSource(const std::string& source, const FileForm& form);
// What `plan` shows for a row: "full", "patch" or "compressed".
std::string formWord(const std::optional<FileForm>& form);

}  // namespace upd::wizard
