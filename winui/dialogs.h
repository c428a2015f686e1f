// The Win32 window's dialogs: message boxes (an error may offer "Do not
// show again during this batch"), Options and About.
#ifndef MORAVINE_WINUI_DIALOGS_H_
#define MORAVINE_WINUI_DIALOGS_H_

#include <windows.h>

#include <string>

#include "frontend/options.h"

namespace moravine::winui {

enum class MessageKind { kInformation, kWarning, kError };

// Shows a modal box titled "Moravine" with OK and returns once the user
// has closed it; with `offer_quiet`, an error box has the check box and
// the result tells whether the user ticked it.
bool ShowMessageBox(HWND owner, MessageKind kind, const std::string& text, bool offer_quiet = false);

// The Options dialog; true, with the values entered, after OK.
bool RunOptionsDialog(HWND owner, frontend::OptionValues* values);

void RunAboutBox(HWND owner);
// A question with Yes and No, No the default (Escape gives it too); true
// when the user chose Yes.
bool AskQuestion(HWND owner, const std::string& text);

}  // namespace moravine::winui

#endif  // MORAVINE_WINUI_DIALOGS_H_
