// The spindle executable. The application runs its whole life inside
// OnInit (the main window is modal), so the process ends with status 0 when
// OnInit returns, whether it ran the window or found another instance.
#include "app/MainApp.h"

#include <wx/init.h>

wxIMPLEMENT_APP_NO_MAIN(CMainApp);

int main(int argc, char** argv) {
    if (!wxEntryStart(argc, argv))
        return 1;
    wxTheApp->CallOnInit();
    wxEntryCleanup();
    return 0;
}
