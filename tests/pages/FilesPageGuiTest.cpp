// The files page driven through its handlers with scripted dialogs, on the
// real engine: the tree and its name rules, the engine calls it makes, the
// ruler, and an image built from it read back by xorriso.
#include "controls/SizeRange.h"
#include "engine/Engine.h"
#include "engine/Label.h"
#include "pages/BurnDlg.h"
#include "pages/CompilationTree.h"
#include "pages/ImFilesDlg.h"
#include "pages/Layouts.h"
#include "port/Utf.h"
#include "tests/guitest/Fixtures.h"
#include "tests/guitest/GuiTest.h"
#include "tests/support/Iso.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/gauge.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ui;

namespace {

std::string U8(const char16_t* s) {
    return s ? port::ToUtf8(s) : std::string("(null)");
}

// Every AddFile and CreateDir the page makes, as the engine reports them
// (source, image folder, name; name, full image path), passed on to the page.
std::vector<std::string> g_calls;

void RecordFile(const char16_t* src, const char16_t* name, const char16_t* dir,
                const char16_t* path, std::uint64_t size, std::uint32_t mode, std::int64_t t,
                std::int32_t renamed, void* user) {
    g_calls.push_back("AddFile " + U8(src).substr(U8(src).rfind('/') + 1) + " " + U8(dir) + " " +
                      U8(name));
    CImFilesDlg::OnAddFileEvent(src, name, dir, path, size, mode, t, renamed, user);
}

void RecordDir(const char16_t* req, const char16_t* name, const char16_t* plain,
               const char16_t* path, void* user) {
    g_calls.push_back("CreateDir " + U8(req) + " " + U8(path));
    CImFilesDlg::OnCreateDirEvent(req, name, plain, path, user);
}

struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::string error;
} g_done;

void OnBuildDone(const char16_t* error, void*) {
    std::lock_guard lock(g_done.mutex);
    g_done.done = true;
    g_done.error = error ? port::ToUtf8(error) : "";
    g_done.cv.notify_all();
}

using spindle_test::ImageTree;
using spindle_test::ReadFile;
using spindle_test::WriteFile;

// The Łódź label of the tests as typed, and as the engine's 8-bit record
// (and so the image) holds it: U+0141 and U+0179 keep only their low bytes.
const wxString kTypedLabel = wxString::FromUTF8("\xC5\x81\xC3\xB3"
                                                "D\xC5\xB9 disc");
const wxString kWrittenLabel = wxString::FromUTF8("A\xC3\xB3"
                                                  "Dy disc");

class FilesPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLayouts(std::string(SPINDLE_SOURCE_DIR) + "/res/"));
        m_dir = guitest::MakeTempSubdir("files");
        guitest::WriteLanguageFile(m_dir, "Test",
                                   {{"ID_ISO_VOLUME", "\xC5\x81\xC3\x93"
                                                      "D\xC5\xB9"}, // ŁÓDŹ
                                    {"ID_MB", " MB"},
                                    {"ID_CD_RULER", "CD"},
                                    {"ID_DVD_RULER", "DVD"},
                                    {"ID_OVERWRITE_IMAGE", "Replace %s?"},
                                    {"ID_BUILDIMAGEERROR", "Not built."},
                                    {"ID_NOT_ADDED", "Left out:"}});
        ASSERT_NE(engine::Initialize(), 0);
        m_frame = guitest::MakeSkinnedFrame();
        m_page = new CImFilesDlg();
        ASSERT_TRUE(m_page->Create(m_frame));
        m_tree = m_page->m_treeFiles;
        engine::SetAddFileEventCallback(RecordFile, m_page);
        engine::SetCreateDirEventCallback(RecordDir, m_page);
        engine::SetBurnDoneEventCallback(OnBuildDone, nullptr);
        g_calls.clear();
        guitest::ClearShown();
    }
    void TearDown() override {
        m_frame->Destroy();
        guitest::Yield(1);
        engine::DeInitialize();
    }

    void Click(void (CImFilesDlg::*handler)(wxCommandEvent&)) {
        wxCommandEvent event;
        (m_page->*handler)(event);
    }
    wxTreeItemId Child(const wxTreeItemId& parent, const wxString& text) {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = m_tree->GetFirstChild(parent, cookie); c.IsOk();
             c = m_tree->GetNextChild(parent, cookie))
            if (m_tree->GetItemText(c) == text)
                return c;
        return {};
    }
    std::string Children(const wxTreeItemId& parent) {
        std::string out;
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = m_tree->GetFirstChild(parent, cookie); c.IsOk();
             c = m_tree->GetNextChild(parent, cookie))
            out += (out.empty() ? "" : " ") + m_tree->GetItemText(c).utf8_string();
        return out;
    }
    // Builds into `path` and returns the engine's error text; `stop`
    // presses Stop as soon as the build runs.
    std::string Build(const std::string& path, bool stop = false) {
        {
            std::lock_guard lock(g_done.mutex);
            g_done.done = false;
        }
        guitest::QueueFileAnswer(path);
        Click(&CImFilesDlg::OnBuildImage);
        if (stop)
            Click(&CImFilesDlg::OnStop);
        std::unique_lock lock(g_done.mutex);
        EXPECT_TRUE(g_done.cv.wait_for(lock, std::chrono::seconds(60), [] { return g_done.done; }));
        return g_done.error;
    }
    void AddFolder(const wxTreeItemId& parent, const std::string& path) {
        m_tree->SelectItem(parent);
        guitest::QueueFolderAnswer(path);
        Click(&CImFilesDlg::OnAddFolder);
    }
    void AddFile(const wxTreeItemId& parent, const std::string& path) {
        m_tree->SelectItem(parent);
        guitest::QueueFileAnswer(path + '\0');
        Click(&CImFilesDlg::OnAddFile);
    }
    std::string Mkdir(const std::string& name) {
        const std::string path = m_dir + name;
        ::mkdir(path.c_str(), 0755);
        return path;
    }

    std::string m_dir;
    wxFrame* m_frame = nullptr;
    CImFilesDlg* m_page = nullptr;
    CCompilationTree* m_tree = nullptr;
};

TEST_F(FilesPageTest, ItemsUseThePageFont) {
    m_frame->Show();
    const wxTreeItemId plain = m_tree->AppendItem(m_page->m_hRootItem, "Some file name.txt");
    const wxTreeItemId marked = m_tree->AppendItem(m_page->m_hRootItem, "Some file name.txt");
    m_tree->SetItemFont(marked, m_page->GetFont());
    m_tree->Expand(m_page->m_hRootItem);
    guitest::Yield(3);
    wxRect a, b;
    ASSERT_TRUE(m_tree->GetBoundingRect(plain, a, true));
    ASSERT_TRUE(m_tree->GetBoundingRect(marked, b, true));
    EXPECT_EQ(a.GetSize(), b.GetSize());
}

// With nothing selected, Add File and Add Folder add to the root; with a
// file selected, to its folder.
TEST_F(FilesPageTest, StartsUnselectedAddsToTheRootAndResetLeavesOnlyTheSelectedRoot) {
    const wxString lodz = wxString::FromUTF8("A\xC3\x93"
                                             "Dy"); // U+0141, U+0179 keep their low bytes
    EXPECT_EQ(m_tree->GetItemText(m_page->m_hRootItem), lodz);
    wxTheApp->ProcessIdle(); // the generic tree control would select its root here
    EXPECT_FALSE(m_tree->GetSelection().IsOk());
    WriteFile(m_dir + "x.txt", "x");
    WriteFile(m_dir + "y.txt", "y");
    const std::string folder = Mkdir("f");
    guitest::QueueFileAnswer(m_dir + "x.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    guitest::QueueFolderAnswer(folder);
    Click(&CImFilesDlg::OnAddFolder);
    m_tree->SelectItem(Child(m_page->m_hRootItem, "x.txt"));
    guitest::QueueFileAnswer(m_dir + "y.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    EXPECT_EQ(guitest::OpenedDialogs(), (std::vector<std::string>{"file", "folder", "file"}));
    EXPECT_TRUE(Child(m_page->m_hRootItem, "f").IsOk());
    EXPECT_TRUE(Child(m_page->m_hRootItem, "y.txt").IsOk());
    EXPECT_EQ(m_tree->GetChildrenCount(m_page->m_hRootItem, false), 3u);
    EXPECT_FALSE(m_page->m_btnStop->IsEnabled());

    m_tree->SelectItem(m_page->m_hRootItem);
    guitest::QueueFileAnswer(m_dir + "x.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    for (int i = 0; i < 2; ++i)
        Click(&CImFilesDlg::OnReset);
    EXPECT_EQ(m_tree->GetCount(), 1u);
    EXPECT_EQ(m_tree->GetSelection(), m_page->m_hRootItem);
    EXPECT_EQ(m_tree->GetItemText(m_page->m_hRootItem), lodz);
    EXPECT_EQ(m_page->m_dTotalSize, 0);
    EXPECT_EQ(engine::RemoveFile(u"x.txt", u"\\"), 2) << "the engine's project is empty";
}

TEST_F(FilesPageTest, AddFileNameRulesSizesAndTheRuler) {
    const std::string data = Mkdir("data/"), other = Mkdir("other/");
    WriteFile(data + "b.txt", "bbbb");
    WriteFile(data + "a.txt", "aa");
    ASSERT_TRUE(spindle_test::MakeSparseFile(data + "Big.iso", 5000000000));
    WriteFile(other + "a.txt", "other");
    WriteFile(other + "A.TXT", "upper");

    m_tree->SelectItem(m_page->m_hRootItem);
    m_page->m_progressBuild->SetValue(40);
    guitest::QueueFileAnswer(data + "b.txt" + '\0' + data + "a.txt" + '\0' + data + "Big.iso" +
                             '\0');
    Click(&CImFilesDlg::OnAddFile);
    EXPECT_EQ(Children(m_page->m_hRootItem),
              "a.txt b.txt Big.iso"); // sorted without regard to case
    ASSERT_EQ(m_page->m_arrSourcePaths.size(), 3u);
    EXPECT_EQ(m_page->m_arrSourcePaths[0], data + "b.txt"); // in the dialog's order
    EXPECT_EQ(m_page->m_dTotalSize, 5000000006.0);
    EXPECT_EQ(m_page->m_progressBuild->GetValue(), 0) << "every change resets the progress";
    EXPECT_EQ(m_page->m_comboMedia->GetSelection(), 1) << "4768 MB is DVD";
    EXPECT_EQ(m_page->m_rulerSize->Scale().value, 4768);
    EXPECT_EQ(m_page->m_rulerSize->Scale().max, 5000);

    // a.txt is taken (case-sensitive), A.TXT is not.
    guitest::QueueFileAnswer(other + "a.txt" + '\0' + other + "A.TXT" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    EXPECT_EQ(Children(m_page->m_hRootItem),
              "A.TXT a.txt b.txt Big.iso"); // equal without case: upper first

    // With a file selected the chooser adds beside it (cancelled here).
    m_tree->SelectItem(Child(m_page->m_hRootItem, "b.txt"));
    guitest::ClearShown();
    Click(&CImFilesDlg::OnAddFile);
    EXPECT_EQ(guitest::OpenedDialogs(), std::vector<std::string>{"file"});

    // Deleting the big file recounts; the list always ends on the media the
    // total fits, whatever the user picked.
    wxCommandEvent event;
    m_tree->SelectItem(Child(m_page->m_hRootItem, "Big.iso"));
    Click(&CImFilesDlg::OnDelete);
    EXPECT_EQ(m_page->m_dTotalSize, 11.0);
    EXPECT_EQ(m_tree->GetSelection(), m_page->m_hRootItem);
    m_page->m_comboMedia->SetSelection(1);
    m_page->OnMediaChange(event);
    EXPECT_EQ(m_page->m_comboMedia->GetSelection(), 0);
    m_page->m_dTotalSize = 734003200; // exactly 700 MB
    m_page->RefreshSizeDisplay();
    EXPECT_EQ(m_page->m_comboMedia->GetSelection(), 1);
}

TEST_F(FilesPageTest, FoldersEngineCallsReportsAndLabelEdits) {
    const std::string src = Mkdir("Sub/");
    Mkdir("Sub/empty/");
    Mkdir("Sub/Deep/");
    WriteFile(src + ".hidden", "h");
    WriteFile(src + "Deep/x.txt", "x");
    ASSERT_EQ(::symlink(".", (src + "self").c_str()), 0); // a loop is passed over
    WriteFile(m_dir + "b.txt", "b");

    // Folder A under the root, then Sub into A, then b.txt into Sub\Deep.
    const std::string a = Mkdir("A/");
    m_tree->SelectItem(m_page->m_hRootItem);
    guitest::QueueFolderAnswer(m_dir + "A");
    Click(&CImFilesDlg::OnAddFolder);
    const wxTreeItemId itemA = Child(m_page->m_hRootItem, "A");
    ASSERT_TRUE(itemA.IsOk());
    m_tree->SelectItem(itemA);
    guitest::QueueFolderAnswer(src.substr(0, src.size() - 1));
    Click(&CImFilesDlg::OnAddFolder);
    const wxTreeItemId sub = Child(itemA, "Sub"), deep = Child(sub, "Deep");
    EXPECT_EQ(Children(sub), ".hidden Deep empty");
    EXPECT_EQ(m_page->GetParentPath(Child(deep, "x.txt")), "\\A\\Sub\\Deep\\");
    m_tree->SelectItem(deep);
    guitest::QueueFileAnswer(m_dir + "b.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    std::vector<std::string> want = {
        "AddFile .hidden \\A\\Sub .hidden",   "AddFile b.txt \\A\\Sub\\Deep b.txt",
        "AddFile x.txt \\A\\Sub\\Deep x.txt", "CreateDir A \\A",
        "CreateDir Deep \\A\\Sub\\Deep",      "CreateDir Sub \\A\\Sub",
        "CreateDir empty \\A\\Sub\\empty"};
    std::sort(g_calls.begin(), g_calls.end()); // the walk goes in the file system's order
    EXPECT_EQ(g_calls, want);

    // Name reports: one rename per entry; none while another page is shown,
    // none for an item that was deleted meanwhile.
    engine::SetAddFileEventCallback(nullptr, nullptr); // reports come by hand from here
    WriteFile(m_dir + "file 1.txt", "1");
    WriteFile(m_dir + "gone.txt", "g");
    m_tree->SelectItem(m_page->m_hRootItem);
    guitest::QueueFileAnswer(m_dir + "file 1.txt" + '\0' + m_dir + "gone.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    const std::u16string one = port::ToUtf16(m_dir + "file 1.txt"),
                         gone = port::ToUtf16(m_dir + "gone.txt");
    m_page->Hide(); // another page is shown
    CImFilesDlg::OnAddFileEvent(one.c_str(), u"IGNORED", nullptr, nullptr, 0, 0, 0, 0, m_page);
    m_page->Show();
    CImFilesDlg::OnAddFileEvent(one.c_str(), u"FILE_1.TXT", nullptr, nullptr, 0, 0, 0, 0, m_page);
    CImFilesDlg::OnAddFileEvent(one.c_str(), u"AGAIN", nullptr, nullptr, 0, 0, 0, 0, m_page);
    m_tree->SelectItem(Child(m_page->m_hRootItem, "gone.txt"));
    Click(&CImFilesDlg::OnDelete);
    CImFilesDlg::OnAddFileEvent(gone.c_str(), u"LATE", nullptr, nullptr, 0, 0, 0, 0, m_page);
    EXPECT_EQ(Children(m_page->m_hRootItem), "A FILE_1.TXT");
    CImFilesDlg::OnCreateDirEvent(u"x", u"video_ts", u"video_ts", nullptr, m_page);
    CImFilesDlg::OnCreateDirEvent(u"x", u"VIDEO_TS", u"VIDEO_TS", nullptr, m_page);
    EXPECT_EQ(Children(m_page->m_hRootItem), "A FILE_1.TXT VIDEO_TS") << "unsorted, last";

    // Only the root takes an edited text, and the engine's label with it.
    struct Edit {
        wxTreeItemId item;
        wxString text, shown;
    } edits[] = {{Child(m_page->m_hRootItem, "A"), "B", "A"},
                 {m_page->m_hRootItem, kTypedLabel, kWrittenLabel}, // shown as written
                 {m_page->m_hRootItem, "BACKUP", "BACKUP"}};
    for (const Edit& e : edits) {
        wxTreeEvent event(wxEVT_TREE_END_LABEL_EDIT, m_tree, e.item);
        event.SetLabel(e.text);
        m_page->OnEndLabelEdit(event);
        EXPECT_FALSE(event.IsAllowed());
        EXPECT_EQ(m_tree->GetItemText(e.item), e.shown);
    }
    engine::EngineOptions options;
    engine::GetOptions(&options);
    EXPECT_EQ(engine::LabelFromOptions(options), u"BACKUP");
    wxTreeEvent longEdit(wxEVT_TREE_END_LABEL_EDIT, m_tree, m_page->m_hRootItem);
    longEdit.SetLabel(wxString('L', 300));
    m_page->OnEndLabelEdit(longEdit);
    engine::GetOptions(&options);
    EXPECT_EQ(engine::LabelFromOptions(options).size(), 127u)
        << "cut, never written past the field";

    // A drop onto a file is refused; onto a folder it adds as Add File would.
    wxArrayString dropped;
    dropped.Add(m_dir + "b.txt");
    EXPECT_FALSE(m_page->AddDroppedPaths(dropped, Child(m_page->m_hRootItem, "FILE_1.TXT")));
    dropped.Add(src + "empty");
    EXPECT_TRUE(m_page->AddDroppedPaths(dropped, m_page->m_hRootItem));
    EXPECT_EQ(Children(m_page->m_hRootItem), "A b.txt empty FILE_1.TXT VIDEO_TS");
}

TEST_F(FilesPageTest, BuildSendsTheTreeInOrderAndTheImageReadsBackIdentical) {
    Mkdir("src/");
    const std::string docs = Mkdir("src/Docs/");
    WriteFile(m_dir + "src/a.txt", "alpha\n");
    WriteFile(docs + "b.txt", std::string(300000, 'b'));
    m_tree->SelectItem(m_page->m_hRootItem);
    guitest::QueueFileAnswer(m_dir + "src/a.txt" + '\0');
    Click(&CImFilesDlg::OnAddFile);
    m_tree->SelectItem(m_page->m_hRootItem);
    guitest::QueueFolderAnswer(docs.substr(0, docs.size() - 1));
    Click(&CImFilesDlg::OnAddFolder);
    wxTreeEvent edit(wxEVT_TREE_END_LABEL_EDIT, m_tree, m_page->m_hRootItem);
    edit.SetLabel(kTypedLabel);
    m_page->OnEndLabelEdit(edit);
    const std::string volumeId =
        "Volume id: " + m_tree->GetItemText(m_page->m_hRootItem).utf8_string() + "\n";

    g_calls.clear();
    const std::string out = m_dir + "out/";
    Mkdir("out/");
    EXPECT_EQ(Build(out + "disc"), "");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"AddFile a.txt \\ a.txt", "CreateDir Docs \\Docs",
                                                 "AddFile b.txt \\Docs b.txt"}));
    EXPECT_TRUE(m_page->m_btnStop->IsEnabled());
    engine::EngineOptions options;
    engine::GetOptions(&options);
    EXPECT_EQ(options.EjectWhenDone, 0);
    const std::string image = out + "disc.iso";
    EXPECT_NE(spindle_test::Run("isoinfo -d -i '" + image + "'").find(volumeId), std::string::npos)
        << "the root shows the label the image carries";
    spindle_test::Run("xorriso -osirrox on -indev '" + image + "' -extract / '" + out +
                      "x' 2>/dev/null");
    EXPECT_EQ(spindle_test::Run("diff -r '" + m_dir + "src' '" + out + "x' && echo same"),
              "same\n");

    // An existing file: No leaves it and everything else alone; Yes replaces it.
    m_page->m_progressBuild->SetValue(30);
    guitest::QueueBoxAnswer(7); // IDNO
    guitest::QueueFileAnswer(out + "disc.ISO");
    WriteFile(out + "disc.ISO", "keep");
    Click(&CImFilesDlg::OnBuildImage);
    ASSERT_FALSE(guitest::ShownBoxes().empty());
    EXPECT_EQ(guitest::ShownBoxes().back().text, "Replace " + out + "disc.ISO?");
    EXPECT_EQ(m_page->m_progressBuild->GetValue(), 30);
    EXPECT_EQ(ReadFile(out + "disc.ISO"), "keep");
    guitest::QueueBoxAnswer(6); // IDYES
    EXPECT_EQ(Build(out + "disc.ISO"), "");
    EXPECT_NE(spindle_test::Run("isoinfo -d -i '" + out + "disc.ISO'").find(volumeId),
              std::string::npos);

    // A replace that fails or is stopped leaves the old image byte for byte:
    // the new one is written beside it and put in its place only when done.
    const std::string old = ReadFile(out + "disc.ISO");
    ASSERT_TRUE(spindle_test::MakeSparseFile(m_dir + "big.bin",
                                             64ull << 30)); // far too long to finish first
    WriteFile(m_dir + "gone.txt", "g");
    struct Replace {
        const char* source;
        bool stop, removeSource;
    } replaces[] = {{"gone.txt", false, true}, {"big.bin", true, false}};
    for (const Replace& r : replaces) {
        AddFile(m_page->m_hRootItem, m_dir + r.source);
        if (r.removeSource)
            ::unlink((m_dir + r.source).c_str());
        guitest::QueueBoxAnswer(6); // IDYES
        EXPECT_NE(Build(out + "disc.ISO", r.stop), "") << r.source;
        EXPECT_TRUE(ReadFile(out + "disc.ISO") == old) << r.source;
        EXPECT_EQ(spindle_test::Run("ls -A '" + out + "' | grep -c spindle-image"), "0\n")
            << r.source;
        m_tree->SelectItem(Child(m_page->m_hRootItem, r.source));
        Click(&CImFilesDlg::OnDelete);
    }

    // A folder the engine refuses to create at build time (its name was
    // changed behind the page's back) fails the build by name, and nothing
    // of it is passed; the rest goes on with the next sibling.
    engine::SetCreateDirEventCallback(nullptr, nullptr); // no reports: entries stay
    const std::string zz = Mkdir("zz/");
    WriteFile(zz + "z.txt", "z");
    AddFolder(m_page->m_hRootItem, zz.substr(0, zz.size() - 1));
    EXPECT_EQ(Build(out + "third"), "");
    CImFilesDlg::OnCreateDirEvent(u"Docs", u"..", u"..", nullptr,
                                  m_page); // a name no folder can have
    engine::SetCreateDirEventCallback(RecordDir, m_page);
    g_calls.clear();
    guitest::ClearShown();
    guitest::QueueFileAnswer(out + "fourth");
    Click(&CImFilesDlg::OnBuildImage);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"AddFile a.txt \\ a.txt", "CreateDir zz \\zz",
                                                 "AddFile z.txt \\zz z.txt"}));
    ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
    EXPECT_EQ(guitest::ShownBoxes()[0].text, "Not built.\n\nLeft out:\n\\..");
    EXPECT_FALSE(m_page->m_btnStop->IsEnabled());
    EXPECT_NE(::access((out + "fourth.iso").c_str(), F_OK), 0);

    // Progress shows whole percents, cut toward zero.
    const std::pair<float, int> progress[] = {{99.9f, 99}, {0.5f, 0}, {100.0f, 100}};
    for (const auto& [percent, shown] : progress) {
        m_page->SetProgress(percent);
        EXPECT_EQ(m_page->m_progressBuild->GetValue(), shown) << percent;
    }
}

// "a_1" and "a\1" are one name in the image. Whichever the walk meets
// second is refused, named, and not shown; the image holds what the tree
// shows: the shown a_1 with the files of its own folder.
TEST_F(FilesPageTest, FoldersOfOneNameInTheImageAreRefusedByName) {
    const std::string clash = Mkdir("clash/"), other = Mkdir("other/");
    Mkdir("clash/a_1/");
    Mkdir("clash/a\\1/");
    WriteFile(clash + "a_1/plain.txt", "p");
    WriteFile(clash + "a\\1/slash.txt", "s");
    Mkdir("other/a\\1/");
    struct Case {
        const char* what;
        std::vector<std::string> added;        // folders added to the root, in turn
        std::vector<std::string> mayBeRefused; // as the walk meets them
        const char* parent;                    // of a_1 in the tree and the image
    } cases[] = {
        {"inside one folder", {m_dir + "clash"}, {clash + "a_1", clash + "a\\1"}, "clash"},
        {"beside a folder at the root", {clash + "a_1", other + "a\\1"}, {other + "a\\1"}, ""},
    };
    const std::string out = Mkdir("out/");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Click(&CImFilesDlg::OnReset);
        guitest::ClearShown();
        for (const std::string& folder : c.added)
            AddFolder(m_page->m_hRootItem, folder);
        ASSERT_EQ(guitest::ShownBoxes().size(), 1u);
        const wxString text = guitest::ShownBoxes()[0].text;
        const auto refused =
            std::find_if(c.mayBeRefused.begin(), c.mayBeRefused.end(),
                         [&](const std::string& path) { return text == "Left out:\n" + path; });
        ASSERT_NE(refused, c.mayBeRefused.end()) << text;
        const std::string file = *refused == clash + "a_1" ? "slash.txt" : "plain.txt";
        const wxTreeItemId parent =
            *c.parent ? Child(m_page->m_hRootItem, c.parent) : m_page->m_hRootItem;
        EXPECT_EQ(Children(parent), "a_1");
        EXPECT_EQ(Children(Child(parent, "a_1")), file);
        const std::string image = out + (*c.parent ? "inside" : "beside");
        EXPECT_EQ(Build(image), "");
        const std::string prefix = *c.parent ? "'/" + std::string(c.parent) : "'";
        EXPECT_EQ(ImageTree(image + ".iso"), *c.parent
                                                 ? "'/'\n" + prefix + "'\n" + prefix + "/a_1'\n" +
                                                       prefix + "/a_1/" + file + "'\n"
                                                 : "'/'\n'/a_1'\n'/a_1/" + file + "'\n");
    }
}

// The burn page sets up a project of its own when Burn Disc is pressed (a
// BIN/CUE one, or a data one holding the ISO to burn); the files page takes
// additions and builds its whole tree all the same.
TEST_F(FilesPageTest, AfterABurnPressTheFilesPageAddsAndBuildsItsWholeTree) {
    const std::string data = Mkdir("data/"), out = Mkdir("out/");
    WriteFile(data + "before.txt", "before");
    WriteFile(data + "after.txt", "after");
    Mkdir("data/sub/");
    WriteFile(data + "sub/deep.txt", "deep");
    WriteFile(m_dir + "disc.cue", "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                                  "    INDEX 01 00:00:00\n");
    WriteFile(m_dir + "disc.iso", std::string(2048 * 20, '\0'));
    auto* burn = new CBurnDlg();
    ASSERT_TRUE(burn->Create(m_frame));
    burn->m_cboWriter->Append("Q: no such recorder"); // the engine opens no dialog for it
    for (const char* image : {"disc.cue", "disc.iso"}) {
        SCOPED_TRACE(image);
        Click(&CImFilesDlg::OnReset);
        AddFolder(m_page->m_hRootItem, data + "sub");
        AddFile(m_page->m_hRootItem, data + "before.txt");

        burn->ChooseImage(m_dir + image);
        burn->m_cboWriter->SetSelection(0);
        guitest::SetModalHandler([](wxDialog*) { return wxID_CANCEL; });
        burn->OnBurn();
        guitest::SetModalHandler(nullptr);

        guitest::ClearShown();
        AddFile(Child(m_page->m_hRootItem, "sub"), data + "after.txt");
        EXPECT_TRUE(guitest::ShownBoxes().empty());
        EXPECT_EQ(Children(Child(m_page->m_hRootItem, "sub")), "after.txt deep.txt");
        EXPECT_EQ(Build(out + image + ".iso"), "");
        EXPECT_EQ(ImageTree(out + image + ".iso"),
                  "'/'\n'/before.txt'\n'/sub'\n'/sub/after.txt'\n'/sub/deep.txt'\n");
    }
}

} // namespace
