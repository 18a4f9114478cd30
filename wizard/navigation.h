// The wizard's pages and how Next and Back move between them: which page follows which,
// and which pages Back unloads on the way.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace upd::wizard {

// The six pages, numbered as the wizard counts them.
enum class PageId : int {
    Welcome = 0,       // frmUpdate
    Server = 1,        // frmUpdate1
    InfoDownload = 2,  // frmUpdate2
    Analysis = 3,      // frmUpdate3
    FileDownload = 4,  // frmUpdate4
    Finish = 5,        // frmUpdate5
};
inline constexpr int kPageCount = 6;

constexpr int pageNumber(PageId page) {
    return static_cast<int>(page);
}
// The page numbered `number`; nothing outside 0-5.
std::optional<PageId> pageFromNumber(int number);
// The page's form name ("frmUpdate", "frmUpdate1", ... "frmUpdate5").
std::string_view formName(PageId page);

// Client area of a page in twips: 7155 x 5745, page 3 7155 x 5760.
struct TwipsSize {
    int width = 0;
    int height = 0;
};
TwipsSize clientSizeTwips(PageId page);

enum class Direction {
    // Show the target (creating and loading it first if it does not exist: its Form_Load
    // runs before anything else happens), hide the page left behind (it stays loaded and
    // keeps its state), give the target the left and top of the page left behind.
    Forward,
    // Make the target visible (it always exists), hide the page left behind, give the
    // target its left and top, then unload the pages listed, in order.
    Back,
};

struct Navigation {
    PageId from;
    PageId to;
    Direction direction;
    std::span<const PageId> unloads;
};

// Every move the pages make:
//   0 Next -> 1           1 Back -> 0            1 Next -> 2
//   2 Back -> 1, unloads 2                       2 Next -> 3
//   3 Back -> 1, unloads 2 then 3                3 Next -> 4 or 5 (the download plan decides)
//   4 Back -> 1, unloads 2, 3 and 4              4 Next -> 5
// Pages 0 and 1 are never unloaded by navigation; page 1 keeps its rows, its chosen server
// and its check box.
std::span<const Navigation> navigationTable();

// The row for a move from `from` to `to`; nullptr when the wizard makes no such move.
const Navigation* findNavigation(PageId from, PageId to);

}  // namespace upd::wizard
