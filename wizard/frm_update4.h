// Wizard page 4, `frmUpdate4`: the download of the planned files. Its file list holds the
// plan's targets (filled by page 3), paired row by row with page 3's PlanList. This page
// shows the plan and leads Back to the server page; fetching the files is not built yet.
#pragma once

#include <array>

#include "wizard/page.h"

class QGroupBox;
class QLabel;

namespace upd::controls {
class ImageList;
class ListControl;
class SmallBar;
}  // namespace upd::controls

namespace upd::wizard {

class frmUpdate4 : public Page {
    Q_OBJECT

  public:
    explicit frmUpdate4(Wizard& wizard);

    void Form_Load() override;
    void Back_Button_Click();

    QGroupBox* Frame1 = nullptr;
    controls::ListControl* trelListViewCtl1 = nullptr;  // the plan's files
    controls::ImageList* trelImageList1 = nullptr;      // 0 a file, 1 the full package
    QLabel* Label2 = nullptr;
    std::array<QLabel*, 4> Label4{};  // downloaded, size, percent, average speed
    controls::SmallBar* SmallBar1 = nullptr;
    std::array<QLabel*, 1> Label3{};
    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;
};

}  // namespace upd::wizard
