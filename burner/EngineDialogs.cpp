// The engine's entry points that show its own dialogs.
#include "burner/BurnDialogUi.h"
#include "burner/EraseDialogUi.h"
#include "burner/Recorder.h"
#include "engine/Engine.h"
#include "port/Errors.h"
#include "port/Utf.h"

namespace {

wxString Title(const char16_t* title) {
    if (!title)
        return {};
    return wxString::FromUTF8(
        port::ToUtf8(std::u16string_view(title, port::U16Length(title, 1024))));
}

} // namespace

namespace engine {

int BurnDialog(int, int, int, const char16_t* title, const char16_t* isoPath) {
    const std::string address = burner::CurrentRecorderAddress();
    if (address.empty())
        return static_cast<int>(port::ERROR_INVALID_DRIVE);
    std::string iso =
        isoPath ? port::ToUtf8(std::u16string_view(isoPath, port::U16Length(isoPath, 4096))) : "";
    burner::BurnDialogUi dialog(Title(title), address, iso);
    dialog.ShowModal();
    return 0;
}

int EraseDialog(const char16_t* title) {
    const std::string address = burner::CurrentRecorderAddress();
    if (address.empty())
        return static_cast<int>(port::ERROR_INVALID_DRIVE);
    burner::EraseDialogUi dialog(Title(title), address);
    dialog.ShowModal();
    return 0;
}

} // namespace engine
