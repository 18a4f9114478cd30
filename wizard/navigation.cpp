#include "wizard/navigation.h"

#include <array>

namespace upd::wizard {
namespace {

constexpr std::array kUnloadPage2{PageId::InfoDownload};
constexpr std::array kUnloadPages2And3{PageId::InfoDownload, PageId::Analysis};
constexpr std::array kUnloadPages2To4{PageId::InfoDownload, PageId::Analysis, PageId::FileDownload};

constexpr std::array kTable{
    Navigation{PageId::Welcome, PageId::Server, Direction::Forward, {}},
    Navigation{PageId::Server, PageId::Welcome, Direction::Back, {}},
    Navigation{PageId::Server, PageId::InfoDownload, Direction::Forward, {}},
    Navigation{PageId::InfoDownload, PageId::Server, Direction::Back, kUnloadPage2},
    Navigation{PageId::InfoDownload, PageId::Analysis, Direction::Forward, {}},
    Navigation{PageId::Analysis, PageId::Server, Direction::Back, kUnloadPages2And3},
    Navigation{PageId::Analysis, PageId::FileDownload, Direction::Forward, {}},
    Navigation{PageId::Analysis, PageId::Finish, Direction::Forward, {}},
    Navigation{PageId::FileDownload, PageId::Server, Direction::Back, kUnloadPages2To4},
    Navigation{PageId::FileDownload, PageId::Finish, Direction::Forward, {}},
};

constexpr std::array<std::string_view, kPageCount> kFormNames{
    "frmUpdate", "frmUpdate1", "frmUpdate2", "frmUpdate3", "frmUpdate4", "frmUpdate5",
};

}  // namespace

std::optional<PageId> pageFromNumber(int number) {
    if (number < 0 || number >= kPageCount) {
        return std::nullopt;
    }
    return static_cast<PageId>(number);
}

std::string_view formName(PageId page) {
    const int number = pageNumber(page);
    return number >= 0 && number < kPageCount ? kFormNames[static_cast<std::size_t>(number)]
                                              : std::string_view{};
}

TwipsSize clientSizeTwips(PageId page) {
    return {7155, page == PageId::Analysis ? 5760 : 5745};
}

std::span<const Navigation> navigationTable() {
    return kTable;
}

const Navigation* findNavigation(PageId from, PageId to) {
    for (const Navigation& row : kTable) {
        if (row.from == from && row.to == to) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace upd::wizard
