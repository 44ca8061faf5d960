#include "pages/CreatePageObserver.h"

#include "pages/CreateDlg.h"

#include <wx/app.h>
#include <wx/thread.h>

#include <future>

namespace {
constexpr int kIdOk = 1, kIdNo = 7;
} // namespace

void CCreatePageObserver::Detach() {
    std::lock_guard lock(m_mutex);
    m_page = nullptr;
}

CCreateDlg* CCreatePageObserver::Page() {
    std::lock_guard lock(m_mutex);
    return m_page;
}

void CCreatePageObserver::Post(std::function<void(CCreateDlg&)> fn) {
    // The page dies before the application object, both on the GUI thread:
    // while the lock shows a page, wxTheApp is there to queue on.
    std::lock_guard lock(m_mutex);
    if (!m_page || !wxTheApp)
        return;
    wxTheApp->CallAfter([self = shared_from_this(), fn = std::move(fn)] {
        if (CCreateDlg* page = self->Page())
            fn(*page);
    });
}

template <class T> std::optional<T> CCreatePageObserver::Ask(std::function<T(CCreateDlg&)> fn) {
    if (wxThread::IsMain()) {
        CCreateDlg* page = Page();
        return page ? std::optional<T>(fn(*page)) : std::nullopt;
    }
    // The queued call alone owns the promise: dropped unrun when the
    // application ends, it breaks the promise and the wait ends.
    auto answer = std::make_shared<std::promise<std::optional<T>>>();
    std::future<std::optional<T>> future = answer->get_future();
    {
        std::lock_guard lock(m_mutex);
        if (!m_page || !wxTheApp)
            return std::nullopt;
        wxTheApp->CallAfter([self = shared_from_this(), fn = std::move(fn), answer] {
            CCreateDlg* page = self->Page();
            answer->set_value(page ? std::optional<T>(fn(*page)) : std::nullopt);
        });
    }
    try {
        return future.get();
    } catch (const std::future_error&) {
        return std::nullopt;
    }
}

void CCreatePageObserver::OnCopying(bool copying) {
    Post([copying](CCreateDlg& page) { page.SetCopyButtons(copying); });
}

void CCreatePageObserver::OnProgress(int percent) {
    Post([percent](CCreateDlg& page) { page.SetProgress(percent); });
}

void CCreatePageObserver::OnStatus(const CopyStatus& status) {
    Post([status](CCreateDlg& page) {
        page.m_strStatus = CCreateDlg::StatusText(status);
        page.UpdateStatus();
    });
}

int CCreatePageObserver::OnMessage(const CopyNote& note) {
    const bool question =
        note.message == CopyMessage::OverwriteImage || note.message == CopyMessage::ReadError;
    auto answer = Ask<int>([note](CCreateDlg& page) { return page.ShowCopyMessage(note); });
    return answer.value_or(question ? kIdNo : kIdOk);
}

std::u16string CCreatePageObserver::NewLabel() {
    auto label = Ask<std::u16string>([](CCreateDlg& page) { return page.LabelBoxText(); });
    return label.value_or(m_discLabel); // no page: the image is left as read
}

void CCreatePageObserver::OnFinished() {
    Post([](CCreateDlg& page) { page.SaveHistory(); });
}
