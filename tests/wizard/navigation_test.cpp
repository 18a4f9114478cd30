#include "wizard/navigation.h"

#include <gtest/gtest.h>

#include <vector>

namespace upd::wizard {
namespace {

using enum PageId;
using Pages = std::vector<PageId>;

Pages unloadsOf(PageId from, PageId to) {
    const Navigation* row = findNavigation(from, to);
    if (row == nullptr) {
        ADD_FAILURE() << "no move " << pageNumber(from) << " -> " << pageNumber(to);
        return {};
    }
    return Pages(row->unloads.begin(), row->unloads.end());
}

TEST(Navigation, ForwardMovesUnloadNothing) {
    const std::pair<PageId, PageId> forward[] = {
        {Welcome, Server},        {Server, InfoDownload}, {InfoDownload, Analysis},
        {Analysis, FileDownload}, {Analysis, Finish},     {FileDownload, Finish},
    };
    for (const auto& [from, to] : forward) {
        const Navigation* row = findNavigation(from, to);
        ASSERT_NE(row, nullptr) << pageNumber(from) << " -> " << pageNumber(to);
        EXPECT_EQ(row->direction, Direction::Forward);
        EXPECT_TRUE(row->unloads.empty());
    }
}

TEST(Navigation, BackMovesUnloadThePagesAfterTheServerPageInOrder) {
    EXPECT_EQ(findNavigation(Server, Welcome)->direction, Direction::Back);
    EXPECT_EQ(unloadsOf(Server, Welcome), Pages{});
    EXPECT_EQ(unloadsOf(InfoDownload, Server), Pages{InfoDownload});
    EXPECT_EQ(unloadsOf(Analysis, Server), (Pages{InfoDownload, Analysis}));
    EXPECT_EQ(unloadsOf(FileDownload, Server), (Pages{InfoDownload, Analysis, FileDownload}));
    for (const PageId from : {InfoDownload, Analysis, FileDownload}) {
        EXPECT_EQ(findNavigation(from, Server)->direction, Direction::Back);
    }
}

TEST(Navigation, TheTableHoldsEveryMoveAndNoOther) {
    EXPECT_EQ(navigationTable().size(), 10u);
    int moves = 0;
    for (int from = 0; from < kPageCount; ++from) {
        for (int to = 0; to < kPageCount; ++to) {
            if (findNavigation(*pageFromNumber(from), *pageFromNumber(to)) != nullptr) {
                ++moves;
            }
        }
    }
    EXPECT_EQ(moves, 10);
    EXPECT_EQ(findNavigation(Welcome, InfoDownload), nullptr);
    EXPECT_EQ(findNavigation(InfoDownload, Welcome), nullptr);
    EXPECT_EQ(findNavigation(Finish, Server), nullptr);
    EXPECT_EQ(findNavigation(Analysis, InfoDownload), nullptr);
    EXPECT_EQ(findNavigation(Server, Server), nullptr);
}

TEST(Navigation, PagesZeroAndOneAreNeverUnloaded) {
    for (const Navigation& row : navigationTable()) {
        for (const PageId unloaded : row.unloads) {
            EXPECT_NE(unloaded, Welcome);
            EXPECT_NE(unloaded, Server);
        }
        if (row.direction == Direction::Back) {
            EXPECT_TRUE(row.to == Welcome || row.to == Server);
        }
    }
}

TEST(Pages, NumbersNamesAndSizes) {
    EXPECT_EQ(pageFromNumber(0), Welcome);
    EXPECT_EQ(pageFromNumber(5), Finish);
    EXPECT_EQ(pageFromNumber(6), std::nullopt);
    EXPECT_EQ(pageFromNumber(-1), std::nullopt);
    EXPECT_EQ(formName(Welcome), "frmUpdate");
    EXPECT_EQ(formName(FileDownload), "frmUpdate4");
    EXPECT_EQ(clientSizeTwips(Server).width, 7155);
    EXPECT_EQ(clientSizeTwips(Server).height, 5745);
    EXPECT_EQ(clientSizeTwips(Analysis).height, 5760);
}

}  // namespace
}  // namespace upd::wizard
