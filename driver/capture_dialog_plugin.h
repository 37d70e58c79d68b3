// The capture dialog's window, as the dialog's logic reaches it: on Linux a
// plugin library loaded on first use (capture_dialog_plugin.cpp), on Windows
// native windows linked into the library (win32/capture_dialog_window.cpp).
#pragma once

#include "driver/capture_dialog_view.h"

namespace fx60 {

// The function that runs the dialog's window. On Linux, loading the plugin on
// first use: the file named by FX60_CAPTURE_DIALOG, else
// fx60link/libfx60link-capture-dialog.so in the directory of the library that
// holds this code; null when it cannot be loaded (tried again on the next call),
// and a loaded plugin stays loaded.
RunCaptureDialogFunction captureDialogRunner();

}  // namespace fx60
