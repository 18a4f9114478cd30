#include "publishing/lint_checks.h"

#include <sys/stat.h>

#include <set>
#include <string>

#include "publishing/file_digest.h"
#include "publishing/update_ini_writer.h"

namespace upd::wizard::lint {

void compareDigest(LintContext& ctx, int line, const std::string& key, const std::string& name,
                   const std::string& digest, const std::string& path) {
    if (digest.empty() || !isSha256Hex(digest)) {
        return;
    }
    std::string why;
    const auto actual = sha256FileHex(path, &why);
    if (!actual) {
        ctx.error(line, "the release's " + name + " cannot be read: " + why,
                  "make the file readable");
    } else if (*actual != digest) {
        ctx.error(line,
                  key + " does not match the release's " + name + " (" + *actual +
                      "): the wizard refuses every download of it",
                  "write the digest again (updtool make-ini), or put the announced file back");
    }
}

void compareSize(LintContext& ctx, int line, const std::string& key, const std::string& name,
                 std::int64_t size, const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == size) {
        return;
    }
    ctx.error(line,
              key + "=" + std::to_string(size) + " is not the size of the release's " + name +
                  " (" + std::to_string(info.st_size) +
                  " bytes): the wizard refuses every download of it",
              "write the size again (updtool make-ini), or put the announced file back");
}

void checkUnannounced(LintContext& ctx) {
    if (!ctx.options().releaseFolder) {
        return;
    }
    std::set<std::string> named;
    for (const Entry& e : ctx.entries()) {
        named.insert(e.name);
    }
    for (const ReleaseEntry& file : listReleaseFiles(*ctx.options().releaseFolder).files) {
        if (!named.contains(file.name)) {
            ctx.warning(0,
                        file.name +
                            " is in the release folder but not in update.ini: no "
                            "user is offered it",
                        "add an entry for it (updtool make-ini lists every file)");
        }
    }
}

}  // namespace upd::wizard::lint
