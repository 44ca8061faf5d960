#include "app/StartHandOver.h"

#include "app/MainDlg.h"
#include "app/PageIds.h"
#include "pages/MountDlg.h"

#include <chrono>
#include <future>
#include <memory>

namespace ui {

void OpenStartPage(CMainDlg& dialog, const StartArguments& start) {
    if (start.action == StartAction::kBurn)
        dialog.OpenImage(engine::ID_PAGE_BURN, wxString::FromUTF8(start.path));
    else if (start.action == StartAction::kOpen && OpensOnBurnPage(start.path))
        dialog.OpenImage(engine::ID_PAGE_BURN, wxString::FromUTF8(start.path));
    else if (start.action == StartAction::kOpen)
        dialog.OpenImage(engine::ID_PAGE_MOUNT, PathFromBytes(start.path));
}

bool StartHandOver::Open(const std::string& name, CMainDlg* dialog) {
    m_pDialog = dialog;
    m_closing = false;
    return m_listener.Listen(name,
                             [this](const std::vector<std::string>& args) { return Take(args); });
}

void StartHandOver::Close() {
    m_closing = true;
    m_listener.Stop();
    m_pDialog = nullptr;
}

std::string StartHandOver::Take(const std::vector<std::string>& args) {
    const StartArguments start = ParseStartArguments(args);
    if (start.action != StartAction::kWindow && start.action != StartAction::kOpen &&
        start.action != StartAction::kBurn)
        return start.error.empty() ? "it asks for no window" : start.error;
    // The window belongs to the GUI thread: the start is shown there, and
    // this thread answers once it is shown or the window is closing.
    auto shown = std::make_shared<std::promise<std::string>>();
    std::future<std::string> result = shown->get_future();
    m_pDialog->CallAfter([this, start, shown] { shown->set_value(Show(start)); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(50);
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (m_closing)
            return "its window is closing";
        if (std::chrono::steady_clock::now() >= end)
            return "its window did not answer within 50 seconds";
    }
    return result.get();
}

std::string StartHandOver::Show(const StartArguments& start) {
    if (m_closing)
        return "its window is closing";
    OpenStartPage(*m_pDialog, start);
    // To the front (the toolkit presents the window, which also brings it
    // back from the task bar); a window not shown yet is left hidden.
    if (m_pDialog->IsShown()) {
        if (m_pDialog->IsIconized())
            m_pDialog->Iconize(false);
        m_pDialog->Raise();
    }
    return {};
}

} // namespace ui
