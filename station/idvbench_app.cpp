#include "station/idvbench_app.h"

#include "station/texts.h"

namespace fx60::station {

bool CIdvBenchApp::InitInstance(IdvBenchView& view) {
  switch (platform::acquireInstanceLock(kInstanceLockName, lockDirectory_, lock_)) {
    case platform::InstanceLockResult::Acquired:
      return true;
    case platform::InstanceLockResult::HeldElsewhere: {
      MessageBox box{1, std::string(texts::kAlreadyRunning), std::string(texts::kWarningCaption), MessageIcon::None,
                     false};
      view.showMessageBox(box, [&view] { view.closeDialog(); });
      return false;
    }
    case platform::InstanceLockResult::Failed:
      break;
  }
  view.closeDialog();
  return false;
}

std::unique_ptr<CIdvBenchDlg> startStation(CIdvBenchApp& app, IdvBenchView& view) {
  if (!app.InitInstance(view)) return nullptr;
  StationSettings settings;
  settings.programDirectory = platform::programDirectory();
  return std::make_unique<CIdvBenchDlg>(view, std::move(settings));
}

}  // namespace fx60::station
