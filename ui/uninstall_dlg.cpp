#include "ui/uninstall_dlg.h"

#include "files/program_files_step.h"
#include "platform/win32/windows.h"
#include "product/product.h"
#include "registry/hardware_step.h"
#include "registry/registration_step.h"
#include "resources/resource.h"

int StepCounter = 0;

const std::array<CUninstallDlg::Step, 3> CUninstallDlg::kSteps = {{
    {&CUninstallDlg::RemoveHardwareNodes, 3, IDC_ITEM_HARDWARE},
    {&CUninstallDlg::RemoveProgramRegistration, 1, IDC_ITEM_REGISTRY},
    {&CUninstallDlg::RemoveProgramFiles, 1, IDC_ITEM_FILES},
}};

CUninstallDlg::CUninstallDlg(CWnd* parent) : CDialog(IDD_UNINSTALL, parent) {
  m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

void CUninstallDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_MESSAGE, m_message);
  DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CUninstallDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // No owner: centred on the desktop's work area.
  CenterWindow();

  CString caption;
  GetWindowText(caption);
  caption += " ";
  caption += ProductTitle;
  caption += "...";
  SetWindowText(caption.c_str());

  // The bar keeps its range of 0 to 100; five steps fill it.
  m_progress.SetStep(20);

  // The first "$" of the message stands for the product title; one at the
  // very start is left as it is.
  CString text;
  m_message.GetWindowText(text);
  const auto dollar = text.find('$');
  if (dollar != CString::npos && dollar > 0) {
    text = text.substr(0, dollar) + ProductTitle + text.substr(dollar + 1);
    m_message.SetWindowText(text.c_str());
  }

  SetTimer(kStepTimer, kStepTimerMs, nullptr);
  return TRUE;
}

void CUninstallDlg::OnTimer(UINT_PTR id_event) {
  if (id_event == kStepTimer) {
    ++StepCounter;
    const int last = static_cast<int>(kSteps.size());
    if (StepCounter >= 1 && StepCounter <= last) {
      // The last step stops the timer before the notice opens, so that the
      // box's own message loop cannot start a further tick.
      if (StepCounter == last) KillTimer(kStepTimer);
      (this->*kSteps[StepCounter - 1].run)();
      if (StepCounter == last) {
        ShowMessage(IDS_CAPTION, IDS_SHUTDOWN_NOTICE, MB_OK);
        ExitWindowsEx(EWX_SHUTDOWN, 0);
        SetTimer(kCloseTimer, kCloseTimerMs, nullptr);
      }
    }
  } else if (id_event == kCloseTimer) {
    KillTimer(kCloseTimer);
    PostMessage(WM_COMMAND, IDOK, 0);
  }
  CDialog::OnTimer(id_event);
}

void CUninstallDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int cx_icon = GetSystemMetrics(SM_CXICON);
  const int cy_icon = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - cx_icon + 1) / 2;
  const int y = (rect.bottom - rect.top - cy_icon + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CUninstallDlg::OnQueryDragIcon() { return m_hIcon; }

void CUninstallDlg::StepProgress() { SendDlgItemMessage(IDC_PROGRESS, PBM_STEPIT, 0, 0); }

void CUninstallDlg::CheckItem(int item_id) {
  SendDlgItemMessage(item_id, BM_SETCHECK, BST_CHECKED, 0);
}

void CUninstallDlg::RemoveHardwareNodes() { ::RemoveHardwareNodes(*this); }

void CUninstallDlg::RemoveProgramRegistration() {
  ::RemoveProgramRegistration(*this, ProductTitle, ProductKeyName);
}

void CUninstallDlg::RemoveProgramFiles() { ::RemoveProgramFiles(*this); }
