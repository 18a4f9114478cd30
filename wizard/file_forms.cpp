#include "wizard/file_forms.h"

#include "publishing/file_digest.h"
#include "wizard/announced_size.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

std::optional<std::int64_t> sizeOf(const IniValue& value) {
    return value.present ? parseAnnouncedSize(value.text) : std::nullopt;
}

bool wholeFileChecked(const IniValue& sha256, const IniValue& size) {
    return isSha256Hex(sha256.text) && sizeOf(size).has_value();
}

}  // namespace

std::vector<FileForm> readCompressedForm(const IniValue& fileSha256, const IniValue& fileSize,
                                         const IniValue& zstSha256, const IniValue& zstSize) {
    const auto size = sizeOf(zstSize);
    if (!wholeFileChecked(fileSha256, fileSize) || !isSha256Hex(zstSha256.text) || !size) {
        return {};
    }
    return {FileForm{FileForm::Kind::Compressed, {}, zstSha256.text, *size}};
}

std::vector<FileForm> readFileForms(const FileEntry& entry) {
    std::vector<FileForm> forms;
    if (!wholeFileChecked(entry.sha256, entry.size)) {
        return forms;
    }
    for (const PatchEntry& patch : entry.patches) {
        const auto size = sizeOf(patch.size);
        if (isSha256Hex(patch.base.text) && isSha256Hex(patch.sha256.text) && size) {
            forms.push_back({FileForm::Kind::Patch, patch.base.text, patch.sha256.text, *size});
        }
    }
    for (FileForm& form :
         readCompressedForm(entry.sha256, entry.size, entry.zstSha256, entry.zstSize)) {
        forms.push_back(std::move(form));
    }
    return forms;
}

std::optional<FileForm> chooseForm(const std::vector<FileForm>& forms,
                                   const std::string& installedSha256) {
    const FileForm* compressed = nullptr;
    for (const FileForm& form : forms) {
        if (form.kind == FileForm::Kind::Patch && !installedSha256.empty() &&
            form.base == installedSha256) {
            return form;
        }
        if (form.kind == FileForm::Kind::Compressed && compressed == nullptr) {
            compressed = &form;
        }
    }
    return compressed != nullptr ? std::optional<FileForm>(*compressed) : std::nullopt;
}

bool offersPatch(const std::vector<FileForm>& forms) {
    for (const FileForm& form : forms) {
        if (form.kind == FileForm::Kind::Patch) {
            return true;
        }
    }
    return false;
}

std::string formSource(const std::string& source, const FileForm& form) {
    return form.kind == FileForm::Kind::Patch ? patchName(source, form.base)
                                              : source + std::string(kZstSuffix);
}

std::string formWord(const std::optional<FileForm>& form) {
    if (!form) {
        return "full";
    }
    return form->kind == FileForm::Kind::Patch ? "patch" : "compressed";
}

}  // namespace upd::wizard
