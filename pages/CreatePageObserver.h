// The create page's side of a disc copy: the copy job's observer on the GUI
// thread. The worker reaches it only through an engine::JobHandOver, which
// hands every call to the GUI thread and waits there for the answers to
// questions; once the page is gone it reaches nothing.
#pragma once

#include "engine/Job.h"

namespace ui {

class CCreateDlg;

class CCreatePageObserver : public engine::JobObserver {
public:
    explicit CCreatePageObserver(CCreateDlg& page) : m_page(page) {}

    void OnProgress(float percent) override;
    void OnStatus(const engine::JobStatus& status) override;
    engine::Answer OnQuestion(const engine::JobQuestion& question) override;
    std::u16string OnAskText(const engine::JobQuestion& question) override;
    void OnEnd(const engine::JobOutcome& outcome) override;

private:
    // The buttons switch to Stop when the copy loop starts, and back before
    // the end is told.
    void Idle();

    CCreateDlg& m_page;
    bool m_copying = false;
    bool m_ran = false; // the copy loop started
};

} // namespace ui
