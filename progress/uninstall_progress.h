// What an uninstall step asks of the window that shows the uninstall: to
// advance its progress bar by one step and to put the check mark into the
// step's item. The progress dialog implements it; the steps in registry/ and
// files/ see only this, so they know nothing of the dialog or the toolkit.
#pragma once

class UninstallProgress {
 public:
  virtual void StepProgress() = 0;          // advances the progress bar by one step
  virtual void CheckItem(int item_id) = 0;  // puts the check mark into an item

 protected:
  // Never deleted through this interface.
  ~UninstallProgress() = default;
};
