#include "pages/CreatePageObserver.h"

#include "engine/DiscImageReader.h"
#include "pages/CreateDlg.h"

namespace ui {

namespace {
constexpr int kIdYes = 6, kIdNo = 7;
} // namespace

void CCreatePageObserver::Idle() {
    if (m_copying)
        m_page.SetCopyButtons(false);
    m_copying = false;
}

void CCreatePageObserver::OnProgress(float percent) {
    m_page.SetProgress(static_cast<int>(percent));
}

void CCreatePageObserver::OnStatus(const engine::JobStatus& status) {
    if (status.step == engine::JobStatus::Step::Preparing && !m_ran) {
        m_ran = m_copying = true;
        m_page.SetCopyButtons(true);
    }
    m_page.m_strStatus = CCreateDlg::StatusText(status);
    m_page.UpdateStatus();
}

engine::Answer CCreatePageObserver::OnQuestion(const engine::JobQuestion& question) {
    if (CopyMessageOf(question) != engine::CopyMessage::ReadError)
        Idle(); // a note of the end
    const int box = m_page.ShowCopyMessage(question);
    return box == kIdYes  ? engine::Answer::Yes
           : box == kIdNo ? engine::Answer::No
                          : engine::Answer::Ok;
}

std::u16string CCreatePageObserver::OnAskText(const engine::JobQuestion&) {
    return m_page.LabelBoxText();
}

void CCreatePageObserver::OnEnd(const engine::JobOutcome& outcome) {
    Idle();
    if (m_ran && !outcome.Stopped())
        m_page.SaveHistory();
}

} // namespace ui
