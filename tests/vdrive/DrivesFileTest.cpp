// The mounted-drive list file: its format byte for byte, how it is read
// back, where it goes, and that it is replaced whole.
#include "vdrive/DrivesFile.h"

#include "port/Utf.h"

#include "tests/support/TempEnv.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace vdrive;
using spindle_test::ReadFile;
using spindle_test::TempEnv;
namespace fs = std::filesystem;

TEST(DrivesFile, FormatNumbersTheDrivesInOrderWithCrLf) {
    struct Case {
        const char* what;
        std::vector<ListedDrive> drives;
        std::string text;
    };
    const Case cases[] = {
        {"no drive", {}, "[DRIVES]\r\n"},
        {"two drives",
         {{u'K', u"\\??\\/img/a.iso"}, {u'M', u"\\??\\UNC\\srv\\share\\b.iso"}},
         "[DRIVES]\r\ndrive0 = K\r\nfile0 = /img/a.iso\r\ndrive1 = M\r\nfile1 = "
         "\\\\srv\\share\\b.iso\r\n"},
        {"name without prefix, beyond ASCII",
         {{u'Z', u"/img/Gr\u00f6\u00dfe \u65e5.iso"}},
         "[DRIVES]\r\ndrive0 = Z\r\nfile0 = /img/Gr\xc3\xb6\xc3\x9f"
         "e \xe6\x97\xa5.iso\r\n"},
        {"a name that is not UTF-8 as its own bytes",
         {{u'Y', u"\\??\\/img/caf\xDCE9.iso"}},
         "[DRIVES]\r\ndrive0 = Y\r\nfile0 = /img/caf\xe9.iso\r\n"},
        {"a name with a line break adds no line, the others keep their numbers",
         {{u'K', u"\\??\\/img/bad\ndrive9 = Q.iso"},
          {u'L', u"/img/cr\r.iso"},
          {u'M', u"\\??\\/img/b.iso"}},
         "[DRIVES]\r\ndrive0 = M\r\nfile0 = /img/b.iso\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDrivesFile(c.drives), c.text) << c.what;
}

TEST(DrivesFile, ParseReadsBackWhatFormatWroteAndPassesOverTheRest) {
    // Host paths as the writer leaves them: blanks at either end, "=" and
    // "%" inside, beyond ASCII, not UTF-8.
    const std::vector<ListedDrive> written = {{u'C', u"/img/a.iso"},
                                              {u'K', u" /img/x = y %25.iso "},
                                              {u'Y', u"/img/caf\xDCE9.iso"},
                                              {u'Z', u"/img/Gr\u00f6\u00dfe.iso"}};
    const std::vector<ListedDrive> read = ParseDrivesFile(FormatDrivesFile(written));
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].letter, written[i].letter) << i;
        EXPECT_TRUE(read[i].imageName == written[i].imageName) << i;
    }

    struct Case {
        const char* what;
        std::string text;
        std::string drives; // letter ':' path, joined by '|'
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"no section", "drive0 = K\nfile0 = /a\n", ""},
        {"LF, lower case, numbers in any order",
         "[drives]\nfile1 = /b\ndrive1 = m\nDRIVE0=K\nFile0 = /a\n", "K:/a|M:/b"},
        {"a key without its partner", "[DRIVES]\r\ndrive0 = K\r\ndrive1 = L\r\nfile1 = /b\r\n",
         "L:/b"},
        {"first of duplicates", "[DRIVES]\ndrive0 = K\ndrive0 = L\nfile0 = /a\nfile0 = /b\n",
         "K:/a"},
        {"bad letters and keys",
         "[DRIVES]\ndrive0 = KL\nfile0 = /a\ndrive1 = 3\nfile1 = /b\ndrivex = Q\nfilex = /c\n"
         "drive2 = R\nfile2 =\njunk\n",
         ""},
        {"another section ends it", "[DRIVES]\ndrive0 = K\n[OTHER]\nfile0 = /a\n", ""},
    };
    for (const Case& c : cases) {
        std::string got;
        for (const ListedDrive& d : ParseDrivesFile(c.text))
            got += (got.empty() ? "" : "|") + std::string(1, static_cast<char>(d.letter)) + ":" +
                   port::ToUtf8(d.imageName);
        EXPECT_EQ(got, c.drives) << c.what;
    }
}

TEST(DrivesFile, GoesBesideTheProgramElseToTheConfigFolderReplacedWhole) {
    TempEnv env;
    env.EmptyTable();
    const std::string program = env.root() + "/bin/";
    fs::create_directories(program);
    setenv("SPINDLE_PROGRAM_DIR", program.c_str(), 1);

    // An older list shared through a hard link: the new list replaces the
    // name, never the old file's bytes in place.
    const std::string old = env.Write("old-list", "[DRIVES]\r\ndrive0 = K\r\n");
    fs::create_hard_link(old, program + "drives.ini");
    EXPECT_EQ(WriteDrivesFile(), program + "drives.ini");
    EXPECT_EQ(ReadFile(program + "drives.ini"), "[DRIVES]\r\n");
    EXPECT_EQ(ReadFile(old), "[DRIVES]\r\ndrive0 = K\r\n");
    EXPECT_EQ(fs::status(program + "drives.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(program), {}), 1) << "no temporary file left";

    // A program folder that cannot take the file: the config folder does.
    const std::string gone = env.root() + "/not-there/";
    setenv("SPINDLE_PROGRAM_DIR", gone.c_str(), 1);
    EXPECT_EQ(WriteDrivesFile(), env.config() + "/drives.ini");
    EXPECT_EQ(ReadFile(env.config() + "/drives.ini"), "[DRIVES]\r\n");
    EXPECT_FALSE(fs::exists(gone));
    unsetenv("SPINDLE_PROGRAM_DIR");
}
