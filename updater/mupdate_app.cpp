#include "updater/mupdate_app.h"

#include "common/sign/configured_key.h"
#include "gui/desktop.h"
#include "gui/pump.h"
#include "updater/mupdate_form.h"
#include "updater/probe.h"

namespace mirvo {

bool CmupdateApp::InitInstance() {
    set_application_title("mupdate");
    // The downloads drain events before every read of 99 bytes.
    static paced_qt_message_pump pump;
    set_message_pump(&pump);
    Cmupdate_form form;
    form.OnInitDialog(configured_candidates(), configured_update_key());
    return false;
}

}  // namespace mirvo
