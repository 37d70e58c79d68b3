// The station program's start: one copy at a time, then the main dialog.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/process_services.h"
#include "station/idvbench_dlg.h"
#include "station/idvbench_view.h"

namespace fx60::station {

// The name of the single-instance lock.
inline constexpr const char* kInstanceLockName = "test6";

class CIdvBenchApp {
 public:
  // `lockDirectory` empty: the user's runtime directory.
  explicit CIdvBenchApp(std::filesystem::path lockDirectory = {}) : lockDirectory_(std::move(lockDirectory)) {}

  // Takes the single-instance lock, held until the object goes. False when the
  // program must end without its dialog: another copy runs (a warning box is
  // shown, and the view closes once it is dismissed) or the lock cannot be made
  // (the view closes at once).
  bool InitInstance(IdvBenchView& view);

 private:
  std::filesystem::path lockDirectory_;
  std::unique_ptr<platform::InstanceLock> lock_;
};

// The program's start as every front end makes it: the single-instance lock, then
// the main dialog's presenter for the program's own directory. Null when the
// program must end without its dialog (see InitInstance).
std::unique_ptr<CIdvBenchDlg> startStation(CIdvBenchApp& app, IdvBenchView& view);

}  // namespace fx60::station
