#include "app/Manual.h"

#include "port/Paths.h"
#include "port/Utf.h"
#include "text/LangText.h"

using namespace text;

namespace ui {

std::string ManualPath() {
    std::u16string file;
    GetLangText(u"ID_HELP_MANUALFILE", file);
    const std::string relative = file.empty() ? "manual/en/manual.html" : port::ToUtf8(file);
    return port::ResourceDir() + "res/" + relative;
}

} // namespace ui
