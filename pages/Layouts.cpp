#include "pages/Layouts.h"

#include "controls/CompactStyle.h"
#include "controls/PageLook.h"
#include "port/Paths.h"

#include <wx/dcclient.h>
#include <wx/filename.h>
#include <wx/panel.h>
#include <wx/xml/xml.h>
#include <wx/xrc/xmlres.h>

namespace ui {

namespace {

bool g_bLoaded = false;

constexpr const char* kFiles[] = {"create.xrc",  "files.xrc", "mount.xrc",
                                  "unmount.xrc", "burn.xrc",  "about.xrc"};

} // namespace

bool LoadLayouts() {
    return LoadLayouts(port::ResourceDir() + "res/");
}

bool LoadLayouts(const std::string& dir) {
    if (g_bLoaded)
        return true;
    ApplyCompactStyle();
    wxXmlResource* xrc = wxXmlResource::Get();
    xrc->InitAllHandlers();
    bool ok = true;
    for (const char* name : kFiles) {
        const wxString path = wxString::FromUTF8(dir + name);
        if (!wxFileName::FileExists(path) || !xrc->Load(path))
            ok = false;
    }
    g_bLoaded = ok;
    return ok;
}

wxSize LayoutSizeDlu(const char* layout) {
    const wxXmlNode* node = wxXmlResource::Get()->GetResourceNode(layout);
    for (const wxXmlNode* child = node ? node->GetChildren() : nullptr; child;
         child = child->GetNext()) {
        if (child->GetName() != "size")
            continue;
        wxString text = child->GetNodeContent().Strip(wxString::both);
        if (!text.EndsWith("d", &text))
            return wxDefaultSize;
        long w = 0, h = 0;
        if (text.BeforeFirst(',').ToLong(&w) && text.AfterFirst(',').ToLong(&h) && w > 0 && h > 0)
            return wxSize(static_cast<int>(w), static_cast<int>(h));
        return wxDefaultSize;
    }
    return wxDefaultSize;
}

void ApplyNumericIds(wxWindow* root) {
    for (wxWindow* child : root->GetChildren()) {
        long id = -1;
        if (child->GetName().ToLong(&id) && id >= 0 && id <= 0x7FFF && child->GetId() != id)
            child->SetId(static_cast<wxWindowID>(id));
        ApplyNumericIds(child);
    }
}

bool LoadPageLayout(wxPanel* page, wxWindow* parent, const char* layout, bool paintSkin) {
    // Painting the skin piece ourselves: no background of the toolkit's.
    page->SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxXmlResource::Get()->LoadPanel(page, parent, layout))
        return false;
    ApplyNumericIds(page);
    page->SetSize(PageRect());
    if (paintSkin) {
        page->Bind(wxEVT_PAINT, [page](wxPaintEvent&) {
            wxPaintDC dc(page);
            if (!PageEraseBkgnd(&dc))
                PaintPlainBackground(page, dc);
            PaintButtonClassFill(page, dc);
        });
    }
    return true;
}

} // namespace ui
