#include "winui/dialogs.h"

#include <commctrl.h>

#include <algorithm>

#include "frontend/status_text.h"
#include "winui/controls.h"
#include "winui/resource.h"
#include "winui/text.h"

namespace moravine::winui {

namespace {

struct ErrorBox {
  std::wstring text;
  bool quiet = false;
};

// Fits the error box to its text: the text's height moves the check box
// and OK down, and the box grows with them.
void FitErrorBox(HWND dialog, const std::wstring& text) {
  HWND message = GetDlgItem(dialog, IDC_MESSAGE);
  SetWindowTextW(message, text.c_str());
  Box box = BoxOf(message, dialog);
  HDC dc = GetDC(message);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(message, WM_GETFONT, 0, 0)));
  RECT needed{0, 0, box.width, 0};
  DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  SelectObject(dc, old);
  ReleaseDC(message, dc);
  const int grow = std::max(0, static_cast<int>(needed.bottom) - box.height);
  box.height += grow;
  Place(message, box);
  for (int id : {IDC_QUIET, IDOK}) {
    HWND control = GetDlgItem(dialog, id);
    Box moved = BoxOf(control, dialog);
    moved.y += grow;
    Place(control, moved);
  }
  RECT frame;
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
               SWP_NOMOVE | SWP_NOZORDER);
  const Units u = DialogUnits(dialog);
  HWND icon = CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON, u.x(10), u.y(10), 32, 32, dialog,
                            reinterpret_cast<HMENU>(IDC_ABOUT_ICON), nullptr, nullptr);
  SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
}

INT_PTR CALLBACK ErrorBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* box = reinterpret_cast<ErrorBox*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      FitErrorBox(dialog, reinterpret_cast<ErrorBox*>(lparam)->text);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        box->quiet = IsDlgButtonChecked(dialog, IDC_QUIET) == BST_CHECKED;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void EnableDistance(HWND dialog) {
  const bool words = IsDlgButtonChecked(dialog, IDC_SPACELESS) != BST_CHECKED;
  EnableWindow(GetDlgItem(dialog, IDC_DISTANCE), words);
  EnableWindow(GetDlgItem(dialog, IDC_DISTANCE_LABEL), words);
}

void InitOptions(HWND dialog, const frontend::OptionValues& values) {
  SetDlgItemInt(dialog, IDC_DISTANCE, static_cast<UINT>(values.distance), TRUE);
  SetDlgItemInt(dialog, IDC_LIMIT, static_cast<UINT>(values.result_limit), FALSE);
  CheckDlgButton(dialog, IDC_SPACELESS, values.spaceless ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_UNICODE, values.unicode ? BST_CHECKED : BST_UNCHECKED);
  EnableDistance(dialog);
}

// OK: the values, or the dialog stays open on the box that was refused.
void AcceptOptions(HWND dialog, frontend::OptionValues* values) {
  frontend::OptionValues read = *values;
  frontend::OptionsReading reading = frontend::ReadOptions(WindowText(GetDlgItem(dialog, IDC_DISTANCE)),
                                                           WindowText(GetDlgItem(dialog, IDC_LIMIT)), &read);
  if (reading.refused != frontend::OptionsReading::kNone) {
    ShowMessageBox(dialog, MessageKind::kWarning, reading.refusal);
    HWND edit = GetDlgItem(dialog, reading.refused == frontend::OptionsReading::kDistance ? IDC_DISTANCE : IDC_LIMIT);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return;
  }
  read.spaceless = IsDlgButtonChecked(dialog, IDC_SPACELESS) == BST_CHECKED;
  read.unicode = IsDlgButtonChecked(dialog, IDC_UNICODE) == BST_CHECKED;
  *values = read;
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* values = reinterpret_cast<frontend::OptionValues*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    InitOptions(dialog, *reinterpret_cast<frontend::OptionValues*>(lparam));
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wparam)) {
    case IDC_SPACELESS: EnableDistance(dialog); return TRUE;
    case IDOK: AcceptOptions(dialog, values); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextW(dialog, IDC_VERSION, Widen(frontend::kVersionText).c_str());
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(dialog, IDOK);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool ShowMessageBox(HWND owner, MessageKind kind, const std::string& text, bool offer_quiet) {
  if (offer_quiet) {
    ErrorBox box{Widen(text), false};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ERROR), owner, ErrorBoxProc,
                    reinterpret_cast<LPARAM>(&box));
    return box.quiet;
  }
  const UINT icon = kind == MessageKind::kInformation ? MB_ICONINFORMATION
                    : kind == MessageKind::kWarning   ? MB_ICONWARNING
                                                      : MB_ICONERROR;
  MessageBoxW(owner, Widen(text).c_str(), Widen(frontend::kProgramName).c_str(), MB_OK | icon | MB_APPLMODAL);
  return false;
}

bool RunOptionsDialog(HWND owner, frontend::OptionValues* values) {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPTIONS), owner, OptionsProc,
                         reinterpret_cast<LPARAM>(values)) == IDOK;
}

bool AskQuestion(HWND owner, const std::string& text) {
  return MessageBoxW(owner, Widen(text).c_str(), Widen(frontend::kProgramName).c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_APPLMODAL) == IDYES;
}

void RunAboutBox(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, 0);
}

}  // namespace moravine::winui
