#include "app/startup.h"

#include <memory>

#include "app/frm_update.h"
#include "wizard/frm_update1.h"
#include "wizard/wizard.h"

namespace upd::app {

void registerWizardPages(wizard::Wizard& wizard) {
    wizard.registerPage(wizard::PageId::Welcome,
                        [](wizard::Wizard& w) { return std::make_unique<frmUpdate>(w); });
    wizard.registerPage(wizard::PageId::Server,
                        [](wizard::Wizard& w) { return std::make_unique<wizard::frmUpdate1>(w); });
}

void startWizard(wizard::Wizard& wizard) {
    wizard.showFirstPage(wizard::PageId::Welcome);
}

}  // namespace upd::app
