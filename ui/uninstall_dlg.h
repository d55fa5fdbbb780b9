// The progress dialog: shows what is being removed and, driven by a window
// timer, runs the three uninstall steps one per tick, then asks the system to
// shut down and closes itself.
#pragma once

#include <array>

#include "platform/toolkit/afxwin.h"
#include "progress/uninstall_progress.h"

// Ticks of the step timer so far; 0 at program start and never reset.
extern int StepCounter;

class CUninstallDlg final : public CDialog, public UninstallProgress {
 public:
  explicit CUninstallDlg(CWnd* parent = nullptr);

  // What the steps ask of the dialog.
  void StepProgress() override;          // advances the progress bar by one step
  void CheckItem(int item_id) override;  // puts the check mark into an item

  // The three uninstall steps, one per tick of the step timer; each runs its
  // step's function (registry/, files/) with this dialog as its progress.
  void RemoveHardwareNodes();
  void RemoveProgramRegistration();
  void RemoveProgramFiles();

  // The steps in the order of the timer's ticks: the member that runs the
  // step, how often the step advances the bar and the item it checks when it
  // is done. The dialog runs them from this table, and a finishing run shows
  // the steps done before from it.
  struct Step {
    void (CUninstallDlg::*run)();
    int progressSteps;
    int itemId;
  };
  static const std::array<Step, 3> kSteps;

  static constexpr UINT_PTR kCloseTimer = 1;
  static constexpr UINT kCloseTimerMs = 100;
  static constexpr UINT_PTR kStepTimer = 2;
  static constexpr UINT kStepTimerMs = 500;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id_event) override;
  void OnPaint() override;
  HCURSOR OnQueryDragIcon() override;

 private:
  CStatic m_message;
  CProgressCtrl m_progress;
  HICON m_hIcon = nullptr;
};
