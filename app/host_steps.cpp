#include "app/host_steps.h"

#include <memory>
#include <string_view>

#include "platform/resources/resources.h"
#include "product/product.h"
#include "resources/resource.h"
#include "ui/uninstall_dlg.h"

namespace {

// The name of a step as its check item shows it, without the leading blanks
// and the trailing dots: "   Hardware nodes..." gives "Hardware nodes".
std::string itemName(int item_id) {
  const resources::DialogTemplate* dialog = resources::findDialog(IDD_UNINSTALL);
  if (dialog == nullptr) return {};
  for (const auto& control : dialog->controls) {
    if (control.id != item_id) continue;
    std::string_view text = control.text;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == '.') text.remove_suffix(1);
    return std::string(text);
  }
  return {};
}

void runStep(CUninstallDlg& dialog, int step) {
  if (step < 1 || step > static_cast<int>(CUninstallDlg::kSteps.size())) return;
  (dialog.*CUninstallDlg::kSteps[step - 1].run)();
}

}  // namespace

host::UninstallSteps UninstallStepsForHost() {
  host::UninstallSteps steps;
  steps.stepTimer = CUninstallDlg::kStepTimer;
  for (const CUninstallDlg::Step& step : CUninstallDlg::kSteps)
    steps.stepNames.push_back(itemName(step.itemId));
  char caption[255] = {};
  LoadStringA(AfxGetResourceHandle(), IDS_CAPTION, caption, sizeof caption);
  steps.caption = caption;
  steps.startupFile = "C:\\AUTOEXEC.BAT";
  steps.runStepWithoutWindow = [](int step) {
    // A dialog that is never shown: the steps' requests to it go nowhere.
    CUninstallDlg dialog(nullptr);
    runStep(dialog, step);
  };
  steps.productTitle = [] { return std::string(ProductTitle); };
  steps.productKeyName = [] { return std::string(ProductKeyName); };
  steps.titleCapacity = sizeof ProductTitle;
  steps.keyNameCapacity = sizeof ProductKeyName;
  steps.finishRun = [](const std::string& title, const std::string& key_name, int first_step) {
    lstrcpynA(ProductTitle, title.c_str(), sizeof ProductTitle);
    lstrcpynA(ProductKeyName, key_name.c_str(), sizeof ProductKeyName);
    // The dialog's next tick runs `first_step`, as it would have in the run
    // that was cut off.
    StepCounter = first_step - 1;
    auto dialog = std::make_unique<CUninstallDlg>(nullptr);
    AfxGetApp()->m_pMainWnd = dialog.get();
    dialog->DoModal();
    AfxGetApp()->m_pMainWnd = nullptr;
  };
  steps.showStepsDone = [](HWND window, int steps_done) {
    auto* dialog = dynamic_cast<CUninstallDlg*>(CWnd::FromHandle(window));
    if (dialog == nullptr) return;
    // The bar and the check marks as the steps done had left them.
    const int count = static_cast<int>(CUninstallDlg::kSteps.size());
    for (int step = 0; step < steps_done && step < count; ++step) {
      const CUninstallDlg::Step& done = CUninstallDlg::kSteps[step];
      for (int i = 0; i < done.progressSteps; ++i) dialog->StepProgress();
      dialog->CheckItem(done.itemId);
    }
  };
  return steps;
}
