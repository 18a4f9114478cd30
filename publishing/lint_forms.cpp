#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "net/ascii_case.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "publishing/lint_checks.h"
#include "publishing/zstd_codec.h"
#include "wizard/announced_size.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard::lint {
namespace {

// The whole file a form must rebuild, as announced.
struct WholeFile {
    std::string name;  // as served: "data\t.dat", "update.exe"
    std::string sha256Key;
    std::string sizeKey;
    const IniValue* sha256;
    const IniValue* size;
};

// A form's keys: ZstSha256<n> and ZstSize<n>, or a patch's three.
struct FormKeys {
    std::string sha256Key;
    std::string sizeKey;
    std::string baseKey;  // empty for a compressed file
    IniValue sha256;
    IniValue size;
    IniValue base;
};

IniValue formValue(const LintContext& ctx, std::string_view section, const std::string& key) {
    IniValue value;
    if (const auto found = ctx.document().findLocated(section, key)) {
        value = {found->value, found->line, true};
    }
    return value;
}

FormKeys zstKeys(const LintContext& ctx, std::string_view section, std::string sha256Key,
                 std::string sizeKey) {
    FormKeys keys{std::move(sha256Key), std::move(sizeKey), {}, {}, {}, {}};
    keys.sha256 = formValue(ctx, section, keys.sha256Key);
    keys.size = formValue(ctx, section, keys.sizeKey);
    return keys;
}

FormKeys patchKeys(const LintContext& ctx, std::string_view section, std::int64_t n, int k) {
    FormKeys keys{patchKey(kPatchSha256Prefix, n, k),
                  patchKey(kPatchSizePrefix, n, k),
                  patchKey(kPatchBasePrefix, n, k),
                  {},
                  {},
                  {}};
    keys.sha256 = formValue(ctx, section, keys.sha256Key);
    keys.size = formValue(ctx, section, keys.sizeKey);
    keys.base = formValue(ctx, section, keys.baseKey);
    return keys;
}

// "PatchBase3_2" -> {3, 2} when `folded` is one of the patch keys; k is 0 when its digits are
// not a k the wizard asks for ("_0", "_01").
struct PatchIndex {
    std::int64_t n = 0;
    int k = 0;
};
std::optional<PatchIndex> patchIndexOf(const std::string& folded) {
    for (const std::string_view prefix : {kPatchBasePrefix, kPatchSha256Prefix, kPatchSizePrefix}) {
        const std::string p = net::asciiLower(prefix);
        const std::size_t underscore = folded.find('_');
        if (!folded.starts_with(p) || underscore == std::string::npos) {
            continue;
        }
        const std::string n = folded.substr(p.size(), underscore - p.size());
        const std::string k = folded.substr(underscore + 1);
        const auto number = [](const std::string& digits) -> std::int64_t {
            const bool ok = !digits.empty() && digits.size() <= 9 && digits.front() != '0' &&
                            std::all_of(digits.begin(), digits.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
            return ok ? std::stoll(digits) : 0;
        };
        if (number(n) == 0) {
            continue;
        }
        return PatchIndex{number(n), static_cast<int>(number(k))};
    }
    return std::nullopt;
}

class FormChecker {
  public:
    explicit FormChecker(LintContext& ctx) : m_ctx(ctx) {}

    // [Ver] or [Time]: each entry's compressed form and patches.
    void section(const FileSection& section) {
        const std::vector<ProfileDocument::KeyLine> lines = m_ctx.document().keyLines(section.name);
        // n -> k -> the first of its keys in the file; points into `lines`.
        std::map<std::int64_t, std::map<int, const ProfileDocument::KeyLine*>> patches;
        for (const ProfileDocument::KeyLine& k : lines) {
            if (const auto index = patchIndexOf(net::asciiLower(k.name))) {
                patches[index->n].try_emplace(index->k, &k);
            }
        }
        const auto count = static_cast<std::int64_t>(section.entries.size());
        for (std::int64_t n = 1; n <= count; ++n) {
            const FileEntry& entry = section.entries[static_cast<std::size_t>(n - 1)];
            const std::string& name = entry.file.text;
            if (name.empty() || !platform::hostPathUnder("/", name)) {
                continue;  // reported with the entry
            }
            const WholeFile whole{name, sha256Key(n), sizeKey(n), &entry.sha256, &entry.size};
            form(whole, zstKeys(m_ctx, section.name, numberedKey(kZstSha256Prefix, n),
                                numberedKey(kZstSizePrefix, n)));
            if (const auto found = patches.find(n); found != patches.end()) {
                patchesOf(section, whole, n, found->second);
            }
        }
        for (const auto& [n, keys] : patches) {
            if (n > count || section.entries[static_cast<std::size_t>(n - 1)].file.text.empty()) {
                const ProfileDocument::KeyLine& k = *keys.begin()->second;
                m_ctx.warning(k.line,
                              std::string(k.name) + " belongs to no entry: there is no " +
                                  fileKey(n) + " in [" + std::string(section.name) + "]",
                              "remove the patch's keys, or add its " + fileKey(n));
            }
        }
    }

    // update.exe and FileMove.exe compressed.
    void update() {
        const UpdateSection& u = m_ctx.ini().update;
        form({std::string(kUpdaterFileName), std::string(kUpdateSha256Key),
              std::string(kUpdateSizeKey), &u.updateSha256, &u.updateSize},
             zstKeys(m_ctx, kUpdateSection, std::string(kUpdateZstSha256Key),
                     std::string(kUpdateZstSizeKey)));
        form({std::string(kMoverFileName), std::string(kMoveSha256Key), std::string(kMoveSizeKey),
              &u.moveSha256, &u.moveSize},
             zstKeys(m_ctx, kUpdateSection, std::string(kMoveZstSha256Key),
                     std::string(kMoveZstSizeKey)));
    }

  private:
    // PatchBase<n>_<k> ...: k from 1 up, without gaps, at most kMaxPatches.
    void patchesOf(const FileSection& section, const WholeFile& whole, std::int64_t n,
                   const std::map<int, const ProfileDocument::KeyLine*>& keys) {
        int expected = 1;
        for (const auto& [k, key] : keys) {
            const std::string name(key->name);
            if (k == 0) {
                m_ctx.warning(key->line,
                              name + " is never read: the wizard asks for " +
                                  patchKey(kPatchBasePrefix, n, 1) + ", " +
                                  patchKey(kPatchBasePrefix, n, 2) + ", ...",
                              "number the patches from 1, without leading zeros");
                continue;
            }
            if (k > kMaxPatches) {
                m_ctx.error(key->line,
                            name + ": more than 5 patches of " + whole.name +
                                "; the wizard reads at most 5",
                            "keep the patches against the 5 releases most users have");
                continue;
            }
            if (k != expected) {
                m_ctx.error(key->line,
                            name + " follows no " + patchKey(kPatchBasePrefix, n, expected) +
                                ": the wizard reads patches from _1 up to the first missing one",
                            "number the patches of " + whole.name + " from 1 without gaps");
            }
            expected = k + 1;
            form(whole, patchKeys(m_ctx, section.name, n, k));
        }
    }

    void form(const WholeFile& whole, const FormKeys& keys) {
        const bool patch = !keys.baseKey.empty();
        struct Key {
            const IniValue* value;
            const std::string* key;
        };
        std::vector<Key> all;
        if (patch) {
            all.push_back({&keys.base, &keys.baseKey});
        }
        all.push_back({&keys.sha256, &keys.sha256Key});
        all.push_back({&keys.size, &keys.sizeKey});
        const auto first =
            std::find_if(all.begin(), all.end(), [](const Key& k) { return k.value->present; });
        if (first == all.end()) {
            return;
        }
        const int line = first->value->line;
        const std::string what =
            patch ? "a patch of " + whole.name : "the compressed form of " + whole.name;
        const std::string maker = patch ? "updtool make-ini --base writes them"
                                        : "updtool make-ini --compress writes them";
        bool usable = true;
        for (const Key& k : all) {
            const IniValue& value = *k.value;
            if (!value.present) {
                m_ctx.error(line,
                            *first->key + " without " + *k.key + ": " + what + " cannot be checked",
                            "add " + *k.key + ", or remove the form's keys (" + maker + ")");
                usable = false;
            } else if (k.value != &keys.size && !isSha256Hex(value.text)) {
                m_ctx.error(value.line,
                            *k.key + " of " + whole.name +
                                " is not 64 lower-case hex digits: " + what +
                                (k.value == &keys.base ? " is never matched to an installed file"
                                                       : " cannot be checked"),
                            "write the SHA-256 as sha256sum prints it (" + maker + ")");
                usable = false;
            } else if (k.value == &keys.size && readAnnouncedSize(value).malformed) {
                m_ctx.error(value.line,
                            *k.key + " of " + whole.name + " " + malformedSizeText(value.text) +
                                ": " + what + " cannot be checked",
                            "write the form's length in bytes (" + maker + ")");
                usable = false;
            }
        }
        const auto wholeSize = readAnnouncedSize(*whole.size).size;
        const bool wholeKnown = isSha256Hex(whole.sha256->text) && wholeSize;
        if (!wholeKnown) {
            m_ctx.error(line,
                        *first->key + " offers " + what + " without valid " + whole.sha256Key +
                            " and " + whole.sizeKey + ": what it rebuilds cannot be checked",
                        "announce the whole file's " + whole.sha256Key + " and " + whole.sizeKey +
                            " (updtool make-ini writes them)");
        }
        if (!usable || !m_ctx.options().releaseFolder) {
            return;
        }
        const std::string served =
            patch ? patchName(whole.name, keys.base.text) : whole.name + std::string(kZstSuffix);
        const std::string path = m_ctx.releaseFile(served);
        if (!LintContext::isRegularFile(path)) {
            m_ctx.error(line, served + " is not in the release folder: every download of it fails",
                        "copy it into the release folder (" + maker + "), or remove its keys");
            return;
        }
        compareSize(m_ctx, keys.size.line, keys.sizeKey, served,
                    readAnnouncedSize(keys.size).size.value_or(0), path);
        compareDigest(m_ctx, keys.sha256.line, keys.sha256Key, served, keys.sha256.text, path);
        if (!wholeKnown) {
            return;
        }
        std::string base;
        if (patch) {
            base = baseFile(whole.name, keys.base.text);
            if (base.empty()) {
                m_ctx.warning(
                    line, served + " not rebuilt: no base with digest " + keys.base.text + " given",
                    "give the installed release it applies to with --base OLD_DIR");
                return;
            }
        }
        rebuild(whole, *wholeSize, served, path, base, line);
    }

    // The file of `name` under a --base folder whose digest is `digest`; "" when none is.
    std::string baseFile(const std::string& name, const std::string& digest) {
        for (const std::string& folder : m_ctx.options().baseFolders) {
            const std::string path = platform::hostPathUnder(folder, name).path;
            if (!LintContext::isRegularFile(path)) {
                continue;
            }
            auto [it, added] = m_baseDigests.try_emplace(path);
            if (added) {
                it->second = sha256FileHex(path).value_or("");
            }
            if (it->second == digest) {
                return path;
            }
        }
        return {};
    }

    // Decodes the form into a private folder of the system's temporary folder, then compares.
    void rebuild(const WholeFile& whole, std::int64_t wholeSize, const std::string& served,
                 const std::string& path, const std::string& base, int line) {
        const std::string fix = "make it again (updtool make-ini), or put the announced file back";
        const char* root = std::getenv("TMPDIR");
        std::string folder =
            std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/updtool-lint.XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            m_ctx.error(line,
                        served + " not rebuilt: no temporary folder: " +
                            std::error_code(errno, std::generic_category()).message(),
                        "set TMPDIR to a folder with room for " + whole.name);
            return;
        }
        const std::string output = folder + "/rebuilt";
        publishing::ZstdApplier applier(path, base, output, wholeSize);
        if (!applier.run()) {
            m_ctx.error(
                line,
                served + " does not rebuild the announced " + whole.name + ": " + applier.error(),
                fix);
        } else if (const auto digest = sha256FileHex(output); digest != whole.sha256->text) {
            m_ctx.error(line,
                        served + " rebuilds a file whose SHA-256 is " + digest.value_or("unknown") +
                            ", not the " + whole.sha256Key + " of " + whole.name,
                        fix);
        }
        ::unlink(output.c_str());
        ::rmdir(folder.c_str());
    }

    LintContext& m_ctx;
    std::map<std::string, std::string> m_baseDigests;  // path -> digest ("" unreadable)
};

}  // namespace

void checkForms(LintContext& ctx) {
    FormChecker checker(ctx);
    checker.section(ctx.ini().ver);
    checker.section(ctx.ini().time);
    checker.update();
}

}  // namespace upd::wizard::lint
