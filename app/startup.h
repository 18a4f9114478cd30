// Start-up of the wizard once the single-instance check has passed.
#pragma once

namespace upd::wizard {
class Wizard;
}

namespace upd::app {

// Makes the wizard's pages available to it. Pages 2 to 5 are added here as they come.
void registerWizardPages(wizard::Wizard& wizard);

// Loads the welcome page, whose Form_Load loads the server page and reads update.svr, and
// shows it centred on the screen.
void startWizard(wizard::Wizard& wizard);

}  // namespace upd::app
