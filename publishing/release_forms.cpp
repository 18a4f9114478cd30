#include "publishing/release_forms.h"

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "publishing/zstd_codec.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

class FormMaker {
  public:
    FormMaker(const std::string& releaseFolder, const FormOptions& options)
        : m_release(releaseFolder), m_options(options) {}

    void compress(ReleaseFile& file) {
        const std::string served = file.name + std::string(kZstSuffix);
        const std::string path = platform::hostPathUnder(m_release, served).path;
        const publishing::CodecResult made = publishing::compressFile(file.path, path);
        if (!made.ok) {
            return failed(served, made.error);
        }
        file.zst = keep(served, path, file.size);
    }

    void patch(ReleaseFile& file) {
        if (!m_options.baseFolders.empty() && file.size > publishing::kMaxPatchedFileBytes) {
            return tooLarge(file.name);
        }
        std::set<std::string> bases;  // digests patched against: two bases, one patch
        for (const std::string& folder : m_options.baseFolders) {
            const std::string basePath = platform::hostPathUnder(folder, file.name).path;
            struct stat info {};
            if (::stat(basePath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
                continue;  // not in that release
            }
            if (info.st_size > publishing::kMaxPatchedFileBytes) {
                tooLarge(basePath);
                continue;
            }
            std::string why;
            const auto digest = sha256FileHex(basePath, &why);
            if (!digest) {
                return failed(basePath, why);
            }
            if (*digest == file.sha256 || !bases.insert(*digest).second) {
                continue;
            }
            const std::string served = patchName(file.name, *digest);
            const std::string path = platform::hostPathUnder(m_release, served).path;
            const publishing::CodecResult made = publishing::makePatch(basePath, file.path, path);
            if (!made.ok) {
                return failed(served, made.error);
            }
            if (const auto form = keep(served, path, file.size)) {
                file.patches.push_back({*digest, *form});
            }
        }
    }

    FormsMade take() {
        if (!m_failures.empty()) {
            std::string text;
            for (const std::string& line : m_failures) {
                text += (text.empty() ? "" : "\n") + platform::printableText(line);
            }
            m_made.failure = std::move(text);
        }
        return std::move(m_made);
    }

  private:
    // The form at `path` when it is worth offering; otherwise it goes.
    std::optional<ServedForm> keep(const std::string& served, const std::string& path,
                                   std::int64_t fileSize) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            failed(served, "cannot examine the file just written");
            return std::nullopt;
        }
        if (!publishing::worthOffering(info.st_size, fileSize)) {
            ::unlink(path.c_str());
            m_made.notes.push_back(platform::printableText(served) + ": not offered, " +
                                   std::to_string(info.st_size) + " bytes for a file of " +
                                   std::to_string(fileSize) + " saves less than a tenth");
            return std::nullopt;
        }
        std::string why;
        const auto digest = sha256FileHex(path, &why);
        if (!digest) {
            failed(served, why);
            return std::nullopt;
        }
        return ServedForm{*digest, static_cast<std::int64_t>(info.st_size)};
    }

    void tooLarge(const std::string& name) {
        m_made.notes.push_back(platform::printableText(name) +
                               ": no patch, larger than 2 GiB, the farthest a patch reaches back");
    }

    void failed(const std::string& name, const std::string& why) {
        m_failures.push_back(name + ": " + why);
    }

    const std::string& m_release;
    const FormOptions& m_options;
    FormsMade m_made;
    std::vector<std::string> m_failures;
};

}  // namespace

FormsMade makeReleaseForms(const std::string& releaseFolder, ReleaseFolder& folder,
                           const FormOptions& options) {
    FormMaker maker(releaseFolder, options);
    // A mistyped base would only show as patches that never come.
    for (const std::string& base : options.baseFolders) {
        struct stat info {};
        if (::stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            return {{}, platform::printableText(base) + ": not a folder"};
        }
    }
    for (auto* files : {&folder.byVersion, &folder.byDate}) {
        for (ReleaseFile& file : *files) {
            if (options.compress) {
                maker.compress(file);
            }
            maker.patch(file);
        }
    }
    if (options.compress && options.compressUpdater) {
        for (auto* file : {&folder.updater, &folder.mover}) {
            if (*file) {
                maker.compress(**file);
            }
        }
    }
    return maker.take();
}

}  // namespace upd::wizard
