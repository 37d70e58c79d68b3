// Finding and loading the capture dialog's window plugin.
#pragma once

#include "driver/capture_dialog_view.h"

namespace fx60 {

// The plugin's entry point, loading the plugin on first use: the file named by
// FX60_CAPTURE_DIALOG, else fx60link/libfx60link-capture-dialog.so in the
// directory of the library that holds this code. Null when it cannot be loaded
// (tried again on the next call). A loaded plugin stays loaded.
RunCaptureDialogFunction loadCaptureDialogPlugin();

}  // namespace fx60
