#include "wizard/finish_summary.h"

#include "platform/printable_text.h"

namespace upd::wizard {
namespace {

FinishSummary installedFiles(const std::vector<std::string>& names) {
    FinishSummary summary{kSummaryFilesInstalled, {}};
    summary.names.reserve(names.size());
    for (const std::string& name : names) {
        summary.names.push_back(platform::printableText(name));
    }
    return summary;
}

}  // namespace

std::optional<FinishSummary> finishSummary(const FinishResult& result,
                                           const std::vector<std::string>& names) {
    if (result.failure) {
        return std::nullopt;
    }
    switch (result.kind) {
        case FinishKind::Nothing:
            return FinishSummary{kSummaryAlreadyCurrent, {}};
        case FinishKind::Files:
            return installedFiles(names);
        case FinishKind::Updater:
            // The installation went in before the start was tried.
            return result.startError == 0 ? FinishSummary{kSummaryUpdaterStarted, {}}
                                          : installedFiles(names);
        case FinishKind::FullPackage:
            // Nothing is installed from the package: a failed opening leaves nothing to tell.
            if (result.startError == 0) {
                return FinishSummary{kSummaryPackageOpened, {}};
            }
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace upd::wizard
