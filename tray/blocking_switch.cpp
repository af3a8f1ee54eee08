#include "tray/blocking_switch.h"

#include "form/quellit.h"
#include "tray/tray_icon.h"

namespace tavro {

void ToggleBlocking(Quellit& form) {
    if (form.BlockingEnabled) {
        form.BlockingEnabled = false;
        form.cmd_Enable.setText("Enable");
        form.mnuEnable.setText("Enable");
        form.window().setIcon(Icon::Disabled);
        form.Timer1().setEnabled(false);
    } else {
        form.BlockingEnabled = true;
        form.cmd_Enable.setText("Disable");
        form.mnuEnable.setText("Disable");
        form.window().setIcon(Icon::Enabled);
        form.Timer1().setEnabled(true);
    }
    // The tray takes its picture from the window's icon, so it follows the switch.
    RefreshTrayIcon(form);
}

void cmd_Enable_Click(Quellit& form) {
    ToggleBlocking(form);
}

void mnuEnable_Click(Quellit& form) {
    ToggleBlocking(form);
}

void chkMenubar_Click(Quellit&) {}

} // namespace tavro
