#include "controls/ToolbarCustomizeDlg.h"

#include "controls/CustomToolbarCtrl.h"
#include "controls/UiScale.h"
#include "text/LangTextUi.h"

#include <wx/button.h>
#include <wx/checklst.h>
#include <wx/sizer.h>

#include <algorithm>

using namespace text;

namespace ui {

CToolbarCustomizeDlg::CToolbarCustomizeDlg(CCustomToolbarCtrl* toolbar)
    : wxDialog(toolbar ? wxGetTopLevelParent(toolbar) : nullptr, wxID_ANY,
               LangText("ID_TOOLBAR_CUSTOMIZE")),
      m_pToolbar(toolbar) {
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    m_pList =
        new wxCheckListBox(this, ID_LIST, wxDefaultPosition, wxSize(ScaledPx(200), ScaledPx(180)));
    top->Add(m_pList, 1, wxEXPAND | wxALL, 8);
    auto* side = new wxBoxSizer(wxVERTICAL);
    // Button texts carry their mnemonic ("&") in the catalogue.
    side->Add(new wxButton(this, ID_UP, LangText("ID_TOOLBAR_UP")), 0, wxEXPAND | wxBOTTOM, 4);
    side->Add(new wxButton(this, ID_DOWN, LangText("ID_TOOLBAR_DOWN")), 0, wxEXPAND | wxBOTTOM, 4);
    side->Add(new wxButton(this, ID_RESET, LangText("ID_TOOLBAR_RESET")), 0, wxEXPAND | wxBOTTOM,
              12);
    side->AddStretchSpacer();
    side->Add(new wxButton(this, wxID_CLOSE, LangText("ID_TOOLBAR_CLOSE")), 0, wxEXPAND);
    top->Add(side, 0, wxEXPAND | wxTOP | wxRIGHT | wxBOTTOM, 8);
    SetSizerAndFit(top);
    SetEscapeId(wxID_CLOSE);

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { MoveSelection(-1); }, ID_UP);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { MoveSelection(+1); }, ID_DOWN);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Reset(); }, ID_RESET);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CLOSE); }, wxID_CLOSE);
    Bind(
        wxEVT_CHECKLISTBOX, [this](wxCommandEvent&) { Apply(); }, ID_LIST);
    Fill();
    CentreOnParent();
}

void CToolbarCustomizeDlg::Fill() {
    // Buttons in the bar first, in bar order; then the ones taken out.
    m_order.clear();
    std::vector<bool> shown;
    for (int index : m_pToolbar->GetLayout()) {
        if (index != kToolbarSeparator && index < m_pToolbar->m_nButtons &&
            std::find(m_order.begin(), m_order.end(), index) == m_order.end()) {
            m_order.push_back(index);
            shown.push_back(true);
        }
    }
    for (int i = 0; i < m_pToolbar->m_nButtons; ++i) {
        if (std::find(m_order.begin(), m_order.end(), i) == m_order.end()) {
            m_order.push_back(i);
            shown.push_back(false);
        }
    }
    m_pList->Clear();
    for (std::size_t row = 0; row < m_order.size(); ++row) {
        wxString caption = m_pToolbar->GetCaption(m_order[row]);
        caption.Replace("&", "");
        if (caption.empty())
            caption = wxString::Format("(%d)", m_order[row] + 1);
        m_pList->Append(caption);
        m_pList->Check(static_cast<unsigned>(row), shown[row]);
    }
}

void CToolbarCustomizeDlg::Apply() {
    std::vector<int> layout;
    for (std::size_t row = 0; row < m_order.size(); ++row) {
        if (m_pList->IsChecked(static_cast<unsigned>(row)))
            layout.push_back(m_order[row]);
    }
    m_pToolbar->SetLayout(layout);
}

void CToolbarCustomizeDlg::MoveSelection(int delta) {
    const int row = m_pList->GetSelection();
    const int to = row + delta;
    if (row == wxNOT_FOUND || to < 0 || to >= static_cast<int>(m_order.size()))
        return;
    const bool checkedRow = m_pList->IsChecked(static_cast<unsigned>(row));
    const bool checkedTo = m_pList->IsChecked(static_cast<unsigned>(to));
    std::swap(m_order[static_cast<std::size_t>(row)], m_order[static_cast<std::size_t>(to)]);
    const wxString textRow = m_pList->GetString(static_cast<unsigned>(row));
    m_pList->SetString(static_cast<unsigned>(row), m_pList->GetString(static_cast<unsigned>(to)));
    m_pList->SetString(static_cast<unsigned>(to), textRow);
    m_pList->Check(static_cast<unsigned>(row), checkedTo);
    m_pList->Check(static_cast<unsigned>(to), checkedRow);
    m_pList->SetSelection(to);
    Apply();
}

void CToolbarCustomizeDlg::Reset() {
    m_pToolbar->ResetButtons();
    Fill();
}

} // namespace ui
