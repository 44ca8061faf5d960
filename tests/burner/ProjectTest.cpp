// The data project: image paths, names, clashes, and the engine's name
// reports during AddFile and CreateDir.
#include "burner/Project.h"
#include "engine/Engine.h"
#include "port/Utf.h"
#include "tests/support/TempEnv.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using burner::FitName;
using burner::Project;

TEST(ImagePath, SplitsOnBackslashesAndRefusesDots) {
    struct Case {
        const char* path;
        bool ok;
        std::vector<std::string> parts;
    } cases[] = {
        {"", true, {}},
        {"\\", true, {}},
        {"\\A", true, {"A"}},
        {"\\A\\B\\", true, {"A", "B"}},
        {"\\\\A\\\\B", true, {"A", "B"}},
        {"A\\B", true, {"A", "B"}},
        {"\\My Docs\\x y", true, {"My Docs", "x y"}},
        {"\\A\\..\\B", false, {}},
        {"\\.", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> parts;
        EXPECT_EQ(burner::SplitImagePath(c.path, parts), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(parts, c.parts) << c.path;
        }
    }
}

TEST(ImageName, FitsTheRockRidgeLimitAndKeepsTheExtension) {
    EXPECT_EQ(FitName("a/b\\c.txt"), "a_b_c.txt");
    EXPECT_EQ(FitName(""), "");
    EXPECT_EQ(FitName("."), "");
    EXPECT_EQ(FitName(".."), "");
    EXPECT_EQ(FitName("...x"), "...x");
    std::string two200(200, 'n');
    EXPECT_EQ(FitName(two200 + ".txt"), two200 + ".txt"); // 204 bytes fit

    std::string longName = FitName(std::string(300, 'x') + ".txt");
    EXPECT_EQ(longName.size(), 255u);
    EXPECT_EQ(longName.substr(251), ".txt");

    // 200 two-byte characters: cut on a character boundary.
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xC3\xA9";
    std::string cut = FitName(accents);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.size() % 2, 0u);
    EXPECT_EQ(port::ToUtf8(port::ToUtf16(cut)), cut); // still valid UTF-8
}

TEST(ImageName, ClashesGetTheFirstFreeNumberedName) {
    Project p;
    burner::AddedFile f;
    const char* sources[] = {"/x/a.txt",   "/y/a.txt",  "/z/a.txt", "/x/.bashrc",
                             "/y/.bashrc", "/x/README", "/y/README"};
    std::vector<std::string> given;
    for (const char* s : sources) {
        ASSERT_EQ(p.AddFile(s, "\\", "", f), 0u);
        given.push_back(f.name);
    }
    EXPECT_EQ(given, (std::vector<std::string>{"a.txt", "a (2).txt", "a (3).txt", ".bashrc",
                                               ".bashrc (2)", "README", "README (2)"}));
    // A file may not take a folder's name either; case counts.
    burner::CreatedDir d;
    ASSERT_EQ(p.CreateDir("Docs", "\\", d), 0u);
    ASSERT_EQ(p.AddFile("/x/Docs", "", "", f), 0u);
    EXPECT_EQ(f.name, "Docs (2)");
    EXPECT_TRUE(f.renamed);
    ASSERT_EQ(p.AddFile("/x/A.TXT", "", "", f), 0u);
    EXPECT_EQ(f.name, "A.TXT");
    EXPECT_FALSE(f.renamed);

    // A 255-byte name that clashes still fits after numbering.
    std::string big(251, 'b');
    ASSERT_EQ(p.AddFile("/s", "\\", big + ".dat", f), 0u);
    ASSERT_EQ(p.AddFile("/t", "\\", big + ".dat", f), 0u);
    EXPECT_EQ(f.name.size(), 255u);
    EXPECT_EQ(f.name.substr(f.name.size() - 8), " (2).dat");
}

TEST(ProjectTree, FoldersFilesAndRemovals) {
    Project p;
    burner::CreatedDir d;
    burner::AddedFile f;
    ASSERT_EQ(p.CreateDir("A", "\\", d), 0u);
    EXPECT_EQ(d.path, "\\A");
    ASSERT_EQ(p.CreateDir("B", "\\A\\", d), 0u); // parent with separator
    EXPECT_EQ(d.path, "\\A\\B");
    ASSERT_EQ(p.CreateDir("C", "\\A\\B", d), 0u); // and without
    EXPECT_EQ(p.CreateDir("B", "\\A", d), port::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(p.CreateDir("X", "\\Missing", d), port::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(p.CreateDir("..", "\\", d), port::ERROR_INVALID_NAME);

    ASSERT_EQ(p.AddFile("/data/b.txt", "\\A\\B", "", f), 0u);
    EXPECT_EQ(f.dir, "\\A\\B");
    EXPECT_EQ(f.path, "\\A\\B\\b.txt");
    EXPECT_EQ(p.AddFile("/data/b.txt", "\\A\\Nope", "", f), port::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(p.AddFile("/data/b.txt", "\\A\\B\\b.txt", "", f), port::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(p.AddFile("", "\\", "", f), port::ERROR_INVALID_PARAMETER);

    EXPECT_EQ(p.RemoveFile("B", "\\A"), port::ERROR_FILE_NOT_FOUND); // a folder
    EXPECT_EQ(p.RemoveFile("b.txt", "\\A"), port::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(p.RemoveFile("b.txt", "\\A\\B\\"), 0u);
    EXPECT_EQ(p.RemoveFile("b.txt", "\\A\\B"), port::ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(p.RemoveDir("\\"), port::ERROR_ACCESS_DENIED);
    EXPECT_EQ(p.RemoveDir("\\A\\Missing\\"), port::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(p.RemoveDir("\\A\\B\\"), 0u); // with C beneath it
    EXPECT_TRUE(p.Root().children.at("A")->children.empty());

    auto snap = p.Snapshot();
    p.Clear();
    EXPECT_TRUE(p.Root().children.empty());
    EXPECT_EQ(snap->children.count("A"), 1u); // the copy is independent
}

namespace {

struct Reports {
    std::vector<std::u16string> files, dirs;
    std::thread::id thread;
};

void OnFile(const char16_t* src, const char16_t* name, const char16_t* dir, const char16_t* path,
            std::uint64_t size, std::uint32_t, std::int64_t, std::int32_t renamed, void* user) {
    auto* r = static_cast<Reports*>(user);
    r->thread = std::this_thread::get_id();
    r->files.push_back(std::u16string(src) + u"|" + name + u"|" + dir + u"|" + path + u"|" +
                       port::ToUtf16(std::to_string(size)) + (renamed ? u"|renamed" : u""));
    // A report may call the engine again.
    engine::EngineOptions o;
    engine::GetOptions(&o);
}

void OnDir(const char16_t* asked, const char16_t* name, const char16_t* plain, const char16_t* path,
           void* user) {
    static_cast<Reports*>(user)->dirs.push_back(std::u16string(asked) + u"|" + name + u"|" + plain +
                                                u"|" + path);
}

} // namespace

TEST(EngineProject, ReportsNamesDuringTheCallOnTheCallersThread) {
    spindle_test::TempConfigDir tmp;
    spindle_test::WriteFile(tmp / "file 1.txt", "12345");
    std::u16string src = port::ToUtf16(tmp / "file 1.txt");

    Reports r;
    engine::SetAddFileEventCallback(OnFile, &r);
    engine::SetCreateDirEventCallback(OnDir, &r);
    engine::DeleteProject();
    EXPECT_EQ(engine::CreateDir(u"Docs", u"\\"), static_cast<int>(port::ERROR_NOT_READY));
    ASSERT_EQ(engine::CreateProject(engine::kProjectBinCue), 0); // holds a cue sheet, no tree
    EXPECT_EQ(engine::CreateDir(u"Docs", u"\\"), static_cast<int>(port::ERROR_NOT_READY));
    ASSERT_EQ(engine::CreateProject(engine::kProjectData), 0);

    ASSERT_EQ(engine::CreateDir(u"Docs", u"\\"), 0);
    ASSERT_EQ(r.dirs.size(), 1u);
    EXPECT_EQ(r.dirs[0], u"Docs|Docs|Docs|\\Docs");
    EXPECT_NE(engine::CreateDir(u"Docs", u"\\"), 0); // taken: refused, no report
    EXPECT_NE(engine::CreateDir(u"Sub", u"\\Nope\\"), 0);
    EXPECT_EQ(r.dirs.size(), 1u);

    engine::FileRecord rec{src.c_str(), u"\\Docs", nullptr, 0, 0};
    ASSERT_EQ(engine::AddFile(rec), 0);
    ASSERT_EQ(engine::AddFile(rec), 0);
    rec.ImageDir = nullptr; // the root
    rec.ImageName = u"Caf\u00E9 \u0141\u00F3d\u017A.txt";
    ASSERT_EQ(engine::AddFile(rec), 0);
    ASSERT_EQ(r.files.size(), 3u);
    EXPECT_EQ(r.thread, std::this_thread::get_id());
    EXPECT_EQ(r.files[0], src + u"|file 1.txt|\\Docs|\\Docs\\file 1.txt|5");
    EXPECT_EQ(r.files[1], src + u"|file 1 (2).txt|\\Docs|\\Docs\\file 1 (2).txt|5|renamed");
    EXPECT_EQ(r.files[2],
              src + u"|Caf\u00E9 \u0141\u00F3d\u017A.txt|\\|\\Caf\u00E9 \u0141\u00F3d\u017A.txt|5");

    EXPECT_EQ(engine::RemoveFile(u"file 1 (2).txt", u"\\Docs\\"), 0);
    EXPECT_EQ(engine::RemoveDir(u"\\Docs\\"), 0);
    EXPECT_NE(engine::RemoveDir(u"\\Docs\\"), 0);
    engine::ClearAll();
    EXPECT_EQ(engine::RemoveFile(u"Caf\u00E9 \u0141\u00F3d\u017A.txt", u"\\"),
              static_cast<int>(port::ERROR_FILE_NOT_FOUND));

    engine::SetAddFileEventCallback(nullptr, nullptr);
    engine::SetCreateDirEventCallback(nullptr, nullptr);
    engine::DeleteProject();
}
