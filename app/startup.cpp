#include "app/startup.h"

#include <memory>

#include "app/frm_update.h"
#include "wizard/frm_update1.h"
#include "wizard/frm_update2.h"
#include "wizard/frm_update3.h"
#include "wizard/frm_update4.h"
#include "wizard/frm_update5.h"
#include "wizard/wizard.h"

namespace upd::app {

void registerWizardPages(wizard::Wizard& wizard) {
    wizard.registerPage(wizard::PageId::Welcome,
                        [](wizard::Wizard& w) { return std::make_unique<frmUpdate>(w); });
    wizard.registerPage(wizard::PageId::Server,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate1>(w); });
    wizard.registerPage(wizard::PageId::InfoDownload,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate2>(w); });
    wizard.registerPage(wizard::PageId::Analysis,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate3>(w); });
    wizard.registerPage(wizard::PageId::FileDownload,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate4>(w); });
    wizard.registerPage(wizard::PageId::Finish,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate5>(w); });
}

void startWizard(wizard::Wizard& wizard) {
    wizard.showFirstPage(wizard::PageId::Welcome);
}

}  // namespace upd::app
