// Wizard page 3, `frmUpdate3`: reads update.ini once (information_file.h: verified under a
// key, then parsed from the same bytes) into its working lists, shows what is new,
// prepares the columns of page 4's file list, and on Next makes the download plan
// (download_plan.h), hands it to page 4 (or goes to page 5 when nothing is out of date)
// and deletes update.ini.
#pragma once

#include <string>
#include <vector>

#include "controls/list_model.h"
#include "wizard/download_plan.h"
#include "wizard/information_file.h"
#include "wizard/page.h"
#include "wizard/update_info.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;

namespace upd::wizard {

class frmUpdate3 : public Page {
    Q_OBJECT

  public:
    explicit frmUpdate3(Wizard& wizard);

    void Form_Load() override;
    // The download plan of the information analysed, as Next makes it (asking the full
    // package's question through the message boxes).
    DownloadPlan makePlan();
    void Next_Button_Click();
    void Back_Button_Click();

    // The working lists: what update.ini names (VersionList, DateList) and the plan's
    // sources (PlanList), row i of PlanList paired with row i of page 4's file list.
    const controls::ListModel& VersionList() const { return m_info.VersionList; }
    const controls::ListModel& DateList() const { return m_info.DateList; }
    const controls::ListModel& PlanList() const { return m_planList; }
    // The announced SHA-256 of PlanList's row (lower-case hex), or "" when none.
    std::string planDigest(int row) const {
        const auto index = static_cast<std::size_t>(row - 1);
        return row >= 1 && index < m_planDigests.size() ? m_planDigests[index] : std::string();
    }

    QGroupBox* Frame1 = nullptr;
    QPlainTextEdit* Text1 = nullptr;  // the What's-new text
    QCheckBox* Check1 = nullptr;      // open the vendor's news page while downloading
    QLabel* Label3 = nullptr;
    QPushButton* Back_Button = nullptr;
    QPushButton* Next_Button = nullptr;
    QPushButton* Cancel = nullptr;

  private:
    std::string iniPath() const;
    // Shows why the information is not used, in the user's language, and drops the file.
    void refuse(const LoadedInformation& loaded);

    UpdateInformation m_info;
    controls::ListModel m_planList;
    std::vector<std::string> m_planDigests;  // beside m_planList's rows
};

}  // namespace upd::wizard
