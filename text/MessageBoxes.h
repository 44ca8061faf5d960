// The program's three message boxes. Each is modal, owned by the application's
// main window when there is one, and returns the platform's result code.
#pragma once

#include <wx/string.h>

namespace text {

inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

int InfoBox(const wxString& text);     // caption: text of ID_INFORMATION, OK
int WarningBox(const wxString& text);  // caption "Warning", OK
int ErrorBox(const wxString& text);    // caption: text of ID_ERROR, OK, error icon
int QuestionBox(const wxString& text); // caption "Question", Yes/No; IDYES or IDNO

} // namespace text
