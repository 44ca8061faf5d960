// The shipped language files: every key the program looks up has a text in
// every language, and format patterns carry the placeholders the code fills.
#include "port/Errors.h"
#include "port/ProfileSyntax.h"
#include "port/Utf.h"
#include "text/Language.h"
#include "text/ProfileReader.h"

#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace text;

namespace {

using Sections = std::map<std::string, std::map<std::string, std::string>>;

Sections Load(const std::string& name) {
    const std::string bytes =
        spindle_test::ReadFile(std::string(SPINDLE_SOURCE_DIR) + "/res/" + name);
    std::string text = port::ToUtf8(CProfileReader::Decode(bytes));
    Sections sections;
    std::string current;
    port::ini::ForEachLine(std::string_view(text), [&](std::string_view line) {
        std::string_view name, value;
        switch (port::ini::ParseLine(line, name, value)) {
        case port::ini::LineKind::Section:
            current = name;
            sections[current];
            break;
        case port::ini::LineKind::Entry:
            sections[current].emplace(name, port::ini::Unquote(value));
            break;
        default:
            break;
        }
        return true;
    });
    return sections;
}

// The printf conversions of a pattern, e.g. "%s" "%d" for "%s: %d%%".
std::string Placeholders(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (text[i + 1] == '%') {
            ++i;
            continue;
        }
        out += '%';
        out += text[i + 1];
        ++i;
    }
    return out;
}

std::vector<std::string> Numbered(const std::string& stem, int first, int last) {
    std::vector<std::string> keys;
    for (int i = first; i <= last; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02d", i);
        keys.push_back(stem + buf);
    }
    return keys;
}

std::vector<std::string> ProgramKeys() {
    std::vector<std::string> keys = {
        "ID_PRODUCT_TITLE",
        "ID_INFORMATION",
        "ID_HELP_ONLINEHELP",
        "ID_HELP_SUPPORT",
        "ID_HELP_ABOUT",
        "ID_ABOUTTARVEL",
        "IDC_CLOSE",
        "IDC_STATIC_HOMEPAGE",
        "IDC_STATIC_SUPPORT",
        "IDC_STATIC_GOHOMEPAGE",
        "IDC_STATIC_GOSUPPORT",
        "ID_MAIN_BTN_CREATE",
        "ID_MAIN_BTN_FILES",
        "ID_MAIN_BTN_MOUNT",
        "ID_MAIN_BTN_UNMOUNT",
        "ID_MAIN_BTN_BURNCD",
        "ID_MAIN_BTN_HELP",
        "ID_BURNDISCERROR",
        "ID_INTERRUPTBYUSER",
        "ID_BUILDIMAGEERROR",
        "ID_BURNDISCDONE",
        "ID_BUILDIMAGEDONE",
        "IDC_STATIC_BURNDISCDESC",
        "ID_TESTBURNDONE",
        "ID_ISO_IMAGE",
        "ID_BIN_IMAGE",
        "ID_DEFAULTLABEL",
        "ID_BURNDISC",
        "ID_NOTHINGTOBURN",
        "ID_UNKNOWNERROR",
        "ID_ERASEDISC",
        "IDC_STATIC_CREATEDESC",
        "ID_SELECT_CDDRIVE",
        "ID_PREPARING",
        "ID_OVERWRITE_IMAGE",
        "ID_CANNTCREATEFILE",
        "ID_CANNTCREATEBUFFER",
        "ID_CANNTOPENCDDRIVE",
        "ID_CURRENTREADING",
        "ID_READERROR",
        "ID_CREATEIMAGEDONE",
        "ID_CREATEIMAGEFAILED",
        "ID_CREATEIMAGEBADSECTORS",
        "ID_NODISC",
        "ID_SAMEASSOURCE",
        "ID_LABELNOTWRITTEN",
        "ID_BADSECTORLISTFAILED",
        "ID_CREATEIMAGEPARTIAL",
        "IDC_STATIC_FILESDESC",
        "ID_NOT_ADDED",
        "ID_CD_RULER",
        "ID_DVD_RULER",
        "ID_ISO_VOLUME",
        "ID_MB",
        "ID_SELECT_FOLDER",
        "IDC_STATIC_MOUNTDESC",
        "ID_DRIVE",
        "ID_MOUNT_DONE",
        "ID_MOUNT_FAILED",
        "ID_FILEDISK_NOT_READY",
        "ID_FILEDISK_START_FAILED",
        "IDC_STATIC_UNMOUNTDESC",
        "ID_DRIVE_USED",
        "ID_DISMOUNT_FAILED",
        "ID_MOUNT_PATH_TOO_LONG",
        "ID_DISC_FAULT_2",
        "ID_DISC_FAULT_13",
        "ID_DISC_FAULT_38",
        "ID_DISC_FAULT_50",
        "ID_DISC_FAULT_LINE",
        "ID_HELP_MANUALFILE",
        "ID_HELP_NOMANUAL",
        "LOCALES",
        "ID_LANGUAGE_MENU",
        "ID_LANGUAGE_AUTO",
        "ID_LANGUAGE_NEXTSTART",
        "ID_LANGUAGE_NOTSAVED",
        "ID_WARNING",
        "ID_QUESTION",
        "ID_YES",
        "ID_NO",
        "ID_FILTER_ISO",
        "ID_FILTER_CUE",
        "ID_FILTER_DISC",
        "ID_FILTER_ALL",
        "ID_TOOLBAR_CUSTOMIZE",
        "ID_TOOLBAR_UP",
        "ID_TOOLBAR_DOWN",
        "ID_TOOLBAR_RESET",
        "ID_TOOLBAR_CLOSE",
        "ID_NORECORDER",
        "ID_SELECT_DRIVE_ROW",
        "ID_SELECT_IMAGEFILE",
    };
    // The error box's caption and every error number port describes.
    keys.push_back("ID_ERROR");
    for (port::ErrorCode code = 0; code < 2000; ++code)
        if (std::string(port::DescribeError(code)) != "unknown error")
            keys.push_back("ID_ERROR_" + std::to_string(code));
    for (auto list : {Numbered("IDC_STATIC_ABOUT", 1, 5), Numbered("IDC_STATIC_BURNCD", 1, 9),
                      Numbered("IDC_STATIC_CREATE", 1, 7), Numbered("IDC_STATIC_FILES", 1, 6),
                      Numbered("IDC_STATIC_MOUNT", 1, 6), Numbered("IDC_STATIC_UNMOUNT", 1, 6)})
        keys.insert(keys.end(), list.begin(), list.end());
    return keys;
}

TEST(LanguageFiles, ProgramFileHasEveryKeyInEveryLanguage) {
    Sections file = Load("languiu.ini");
    ASSERT_EQ(file["LANGUAGE"]["CURRENT"], "English");
    for (const char* language : {"English", "Deutsch"}) {
        const auto& texts = file[language];
        for (const std::string& key : ProgramKeys()) {
            auto it = texts.find(key);
            ASSERT_NE(it, texts.end()) << language << " lacks " << key;
            EXPECT_FALSE(it->second.empty()) << language << " " << key;
            EXPECT_LE(port::ToUtf16(it->second).size(), 254u) << language << " " << key;
        }
        EXPECT_EQ(texts.size(), ProgramKeys().size()) << language << " has keys nobody reads";
    }
    // The window says in English what the command line says.
    for (port::ErrorCode code : {port::ERROR_FILE_NOT_FOUND, port::ERROR_UNRECOGNIZED_VOLUME})
        EXPECT_EQ(file["English"]["ID_ERROR_" + std::to_string(code)], port::DescribeError(code));
}

TEST(LanguageFiles, PatternsCarryThePlaceholdersTheCodeFills) {
    const std::map<std::string, std::string> patterns = {
        {"ID_OVERWRITE_IMAGE", "%s"},
        {"ID_CANNTCREATEFILE", "%s"},
        {"ID_CANNTOPENCDDRIVE", "%s"},
        {"ID_CURRENTREADING", "%d%d%d"},
        {"ID_MOUNT_DONE", "%c"},
        {"ID_MOUNT_FAILED", "%s%u"},
        {"ID_MOUNT_PATH_TOO_LONG", "%u"},
        {"ID_FILEDISK_START_FAILED", "%s"},
        {"ID_DISMOUNT_FAILED", "%s%u"},
        {"ID_DISC_FAULT_2", "%s"},
        {"ID_DISC_FAULT_13", "%s"},
        {"ID_DISC_FAULT_38", "%s"},
        {"ID_DISC_FAULT_50", "%s"},
        {"ID_DISC_FAULT_LINE", "%u"},
        {"IDC_STATIC_ABOUT02", "%s"},
        {"ID_HELP_NOMANUAL", "%s"},
        {"ID_CREATEIMAGEBADSECTORS", "%d%s"},
        {"ID_NODISC", "%s"},
        {"ID_SAMEASSOURCE", "%s"},
        {"ID_LABELNOTWRITTEN", "%s"},
        {"ID_BADSECTORLISTFAILED", "%d%s"},
        {"ID_CREATEIMAGEPARTIAL", "%s"},
        {"ID_LANGUAGE_NOTSAVED", "%s"},
    };
    Sections file = Load("languiu.ini");
    for (const char* language : {"English", "Deutsch"}) {
        for (const auto& [key, text] : file[language]) {
            auto it = patterns.find(key);
            EXPECT_EQ(Placeholders(text), it == patterns.end() ? "" : it->second)
                << language << " " << key << ": " << text;
        }
    }
    // The ruler appends the unit straight to the number: keep its blank.
    EXPECT_EQ(file["English"]["ID_MB"], " MB");
}

TEST(LanguageFiles, EngineFileMatchesAcrossLanguages) {
    Sections file = Load("langburu.ini");
    ASSERT_EQ(file["LANGUAGE"]["CURRENT"], "English");
    const auto& english = file["English"];
    const auto& german = file["Deutsch"];
    ASSERT_FALSE(english.empty());
    ASSERT_EQ(english.size(), german.size());
    for (const auto& [key, text] : english) {
        auto it = german.find(key);
        ASSERT_NE(it, german.end()) << key;
        EXPECT_EQ(Placeholders(text), Placeholders(it->second)) << key;
    }
}

// The mnemonic of a text: the letter after its one "&" ("&&" is a plain
// "&"), lower case; 0 when it has none or more than one.
std::u16string Mnemonic(const std::string& text) {
    const std::u16string t = port::ToUtf16(text);
    std::u16string found;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i] != u'&')
            continue;
        if (t[i + 1] == u'&') {
            ++i;
            continue;
        }
        if (!found.empty())
            return {};
        found = std::u16string(1, t[i + 1] < 0x80 ? std::tolower(t[i + 1]) : t[i + 1]);
    }
    return found;
}

// Buttons, check boxes and menu entries carry one mnemonic each, distinct
// among those of one window or menu, in every language.
TEST(LanguageFiles, ButtonsAndMenusHaveDistinctMnemonics) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> groups = {
        {"languiu.ini", {"IDC_STATIC_CREATE05", "IDC_STATIC_CREATE06", "IDC_STATIC_CREATE07"}},
        {"languiu.ini", Numbered("IDC_STATIC_FILES", 1, 6)},
        {"languiu.ini", Numbered("IDC_STATIC_MOUNT", 4, 6)},
        {"languiu.ini", Numbered("IDC_STATIC_UNMOUNT", 1, 2)},
        {"languiu.ini", Numbered("IDC_STATIC_BURNCD", 5, 9)},
        {"languiu.ini",
         {"ID_HELP_ONLINEHELP", "ID_HELP_SUPPORT", "ID_LANGUAGE_MENU", "ID_HELP_ABOUT"}},
        {"languiu.ini", {"IDC_CLOSE"}},
        {"languiu.ini", {"ID_LANGUAGE_AUTO"}},
        {"languiu.ini",
         {"ID_TOOLBAR_UP", "ID_TOOLBAR_DOWN", "ID_TOOLBAR_RESET", "ID_TOOLBAR_CLOSE"}},
        {"langburu.ini",
         {"BURN_SIMULATE", "BURN_VERIFY", "BURN_CLOSE_DISC", "BURN_UNDERRUN", "ENG_EJECT_WHEN_DONE",
          "BURN_START", "ENG_CLOSE"}},
        {"langburu.ini",
         {"ERASE_QUICK", "ERASE_FULL", "ENG_EJECT_WHEN_DONE", "ERASE_START", "ENG_CLOSE"}},
        {"langburu.ini", {"ENG_CANCEL"}}, // Close's button while the job runs
    };
    for (const auto& [fileName, keys] : groups) {
        Sections file = Load(fileName);
        for (const char* language : {"English", "Deutsch"}) {
            std::set<std::u16string> seen;
            for (const std::string& key : keys) {
                const std::u16string letter = Mnemonic(file[language][key]);
                EXPECT_FALSE(letter.empty()) << language << " " << key << " has no single mnemonic";
                EXPECT_TRUE(letter.empty() || seen.insert(letter).second)
                    << language << " " << key << " repeats \"" << port::ToUtf8(letter) << "\"";
            }
        }
    }
}

} // namespace

// Every language of the program's file is reached by its own locale and has
// the engine's texts under the same name.
TEST(LanguageFiles, EachLanguageServesItsLocaleInBothFiles) {
    Sections program = Load("languiu.ini");
    Sections engine = Load("langburu.ini");
    std::u16string text = CProfileReader::Decode(
        spindle_test::ReadFile(std::string(SPINDLE_SOURCE_DIR) + "/res/languiu.ini"));
    const std::vector<std::u16string> sections = LanguageSections(text);
    ASSERT_EQ(sections.size(), 2u);
    for (const std::u16string& name : sections) {
        const std::string section = port::ToUtf8(name);
        EXPECT_TRUE(engine.count(section)) << section;
        const std::string locales = program[section]["LOCALES"];
        ASSERT_FALSE(locales.empty()) << section;
        LocaleVariables locale{"", "", locales.substr(0, locales.find(' ')) + ".UTF-8", ""};
        EXPECT_EQ(ResolveLanguage(locale, u"", text), name);
    }
}
