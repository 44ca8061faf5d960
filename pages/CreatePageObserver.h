// The create page's side of a disc copy: the reader's observer. The worker
// never touches a window itself: every call is handed to the GUI thread, and
// questions wait there for their answer. Once the page is gone (the window
// closed during a copy), or the application ends before a question is
// shown, a question gets a closed box's answer and nothing else is shown.
#pragma once

#include "pages/DiscImageReader.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class CCreateDlg;

class CCreatePageObserver : public CDiscCopyObserver,
                            public std::enable_shared_from_this<CCreatePageObserver> {
public:
    CCreatePageObserver(CCreateDlg* page, std::u16string discLabel)
        : m_page(page), m_discLabel(std::move(discLabel)) {}

    // The page is going away: later calls reach nothing (GUI thread).
    void Detach();

    void OnCopying(bool copying) override;
    void OnProgress(int percent) override;
    void OnStatus(const CopyStatus& status) override;
    int OnMessage(const CopyNote& note) override;
    std::u16string NewLabel() override;
    void OnFinished() override;

private:
    CCreateDlg* Page();
    // Runs fn on the GUI thread later, if the page is still there.
    void Post(std::function<void(CCreateDlg&)> fn);
    // Runs fn on the GUI thread and waits for its result; nothing when the
    // page or the application is gone first.
    template <class T> std::optional<T> Ask(std::function<T(CCreateDlg&)> fn);

    std::mutex m_mutex;
    CCreateDlg* m_page;
    const std::u16string m_discLabel;
};
