// build-iso [--label L] [--force] OUT SOURCE...: builds an ISO image with the
// engine. A source folder becomes a folder of the image root, with
// everything in it; a source file goes to the root. On a terminal a progress
// bar is drawn on stderr. Ctrl-C stops the build the way Abort does: no
// image is left, unless the image was already complete.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "engine/BuildError.h"
#include "engine/Engine.h"
#include "engine/Label.h"
#include "engine/SourceWalk.h"
#include "port/Utf.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
    g_interrupted = 1;
}

struct BuildWatch {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool failed = false;
    std::string error;
    std::atomic<float> percent{0.0f};
    std::atomic<std::int64_t> bytes{0}; // of the files added: the image's size, nearly
};

void OnProgress(float percent, void* user) {
    static_cast<BuildWatch*>(user)->percent.store(percent);
}

void OnDone(const char16_t* error, void* user) {
    auto* w = static_cast<BuildWatch*>(user);
    std::lock_guard lock(w->mutex);
    w->done = true;
    if (error && *error) {
        w->failed = true;
        w->error = port::ToUtf8(error);
    }
    w->cv.notify_all();
}

void OnFileAdded(const char16_t* source, const char16_t* name, const char16_t*,
                 const char16_t* imagePath, std::uint64_t size, std::uint32_t, std::int64_t,
                 std::int32_t renamed, void* user) {
    if (auto* watch = static_cast<BuildWatch*>(user))
        watch->bytes += static_cast<std::int64_t>(size);
    if (!renamed || !name)
        return;
    // The path inside the image as it shows once mounted here: with "/".
    std::string shown = port::ToUtf8(imagePath);
    std::replace(shown.begin(), shown.end(), '\\', '/');
    Tell("build-iso", port::ToUtf8(source) + " is stored as " + shown);
}

int Fail(const std::string& message) {
    return Say("build-iso", message);
}

using HostId = std::pair<dev_t, ino_t>;

// The folder part of a host path ("a/b" gives "a", "b" gives ".").
std::string HostFolder(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : folder.substr(0, slash);
}

bool HostIdOf(const std::string& path, HostId& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

// Passes a source to the engine's project through the shared walk: folders
// become folders of the image, files go in by their own names, and what an
// image cannot hold is passed over with a word. The first engine error ends
// the walk.
class Gatherer : public engine::SourceWalkHandler {
public:
    // The image being written may lie in a source, or an earlier image of
    // its name: it is left out, as an image cannot hold itself. Its
    // temporary file is made only once the sources are gathered.
    void SetOutput(const std::string& out) {
        m_outName = engine::HostBaseName(out);
        m_haveOutFolder = HostIdOf(HostFolder(out), m_outFolder);
        m_haveOut = HostIdOf(out, m_out);
    }

    // Adds `source` under the image root as `name`.
    engine::BuildError Add(const std::string& source, const std::string& name) {
        m_rootName = name;
        m_folders.assign(1, u"\\");
        m_hostFolders.clear();
        m_error = {};
        engine::WalkSource(source, *this, true);
        return m_error;
    }

    bool EnterFolder(const engine::SourceEntry& folder) override {
        std::u16string n = port::ToUtf16(m_folders.size() == 1 ? m_rootName : folder.name);
        int rc = engine::CreateDir(n.c_str(), m_folders.back().c_str());
        if (rc != 0)
            return Failed(static_cast<port::ErrorCode>(rc), folder.path);
        m_folders.push_back(engine::ImageChildPath(m_folders.back(), port::ToUtf16(m_lastName)));
        m_hostFolders.push_back({folder.dev, folder.ino});
        return true;
    }
    bool LeaveFolder(const engine::SourceEntry&) override {
        m_folders.pop_back();
        m_hostFolders.pop_back();
        return true;
    }
    bool AddFile(const engine::SourceEntry& file) override {
        if (IsOutput(file)) {
            Tell("build-iso", "leaving out " + file.path + ": it is the image being built");
            return true;
        }
        std::u16string src = port::ToUtf16(file.path);
        std::u16string name = port::ToUtf16(m_folders.size() == 1 ? m_rootName : file.name);
        engine::FileRecord r{src.c_str(), m_folders.back().c_str(), name.c_str(), 0, 0};
        int rc = engine::AddFile(r);
        return rc == 0 || Failed(static_cast<port::ErrorCode>(rc), file.path);
    }
    bool Skip(const engine::SourceEntry& entry) override {
        if (entry.why == engine::SkipReason::Unreadable)
            return Failed(port::ErrorFromErrno(entry.err), entry.path);
        if (entry.why == engine::SkipReason::NotUtf8)
            return Failed(port::ERROR_INVALID_NAME, entry.path);
        Tell("build-iso", "skipping " + entry.path + ": " + engine::DescribeSkip(entry));
        return true;
    }
    bool ListFailed(const engine::SourceEntry& folder, int err) override {
        return Failed(port::ErrorFromErrno(err), folder.path);
    }

    // The name the engine gave the last folder (reported during CreateDir).
    static void OnDirCreated(const char16_t*, const char16_t* name, const char16_t*,
                             const char16_t*, void* user) {
        static_cast<Gatherer*>(user)->m_lastName = port::ToUtf8(name);
    }

private:
    bool IsOutput(const engine::SourceEntry& file) const {
        if (m_haveOut && HostId{file.dev, file.ino} == m_out)
            return true; // the image itself, or a link to it
        if (!m_haveOutFolder || file.name != m_outName)
            return false;
        HostId folder;
        if (!m_hostFolders.empty())
            folder = m_hostFolders.back();
        else if (!HostIdOf(HostFolder(file.path), folder))
            return false;
        return folder == m_outFolder;
    }

    bool Failed(port::ErrorCode code, const std::string& path) {
        m_error = {code, path};
        return false;
    }

    std::string m_rootName;
    std::vector<std::u16string> m_folders; // image folders on the way down
    std::vector<HostId> m_hostFolders;     // the host folders on the way down
    std::string m_lastName;
    engine::BuildError m_error;
    std::string m_outName;
    HostId m_outFolder{}, m_out{};
    bool m_haveOutFolder = false, m_haveOut = false;
};

struct Options {
    std::string label;
    bool haveLabel = false;
    bool force = false;
    bool quiet = false;
    std::string out;
    std::vector<std::string> sources;
};

constexpr char kUsage[] =
    "usage: spindle-cli build-iso [--label L] [--force] [--quiet] OUT SOURCE...";

bool ParseArgs(const Args& args, Options& o, std::string& err) {
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--force") {
            o.force = true;
        } else if (!optionsDone && a == "--quiet") {
            o.quiet = true;
        } else if (!optionsDone && a == "--label") {
            if (i + 1 >= args.size()) {
                err = "--label needs a value";
                return false;
            }
            o.label = args[++i];
            o.haveLabel = true;
        } else if (!optionsDone && a.rfind("--label=", 0) == 0) {
            o.label = a.substr(8);
            o.haveLabel = true;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            err = "unknown option " + a;
            return false;
        } else if (o.out.empty()) {
            o.out = a;
        } else {
            o.sources.push_back(a);
        }
    }
    if (o.out.empty())
        return false; // the usage line says it
    if (o.sources.empty()) {
        err = "no SOURCE given: name the files or folders the image is to hold";
        return false;
    }

    return true;
}

// An output that is a link or a read-only file is kept unless the user says
// --force: replacing it silently could not be what was meant.
bool OutputMayBeReplaced(const Options& o, std::string& err) {
    struct stat st;
    if (o.force || ::lstat(o.out.c_str(), &st) != 0)
        return true;
    if (S_ISLNK(st.st_mode))
        err = o.out + " is a symbolic link; --force replaces the link with the image";
    else if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
        err = o.out + " is read-only; --force replaces it";
    return err.empty();
}

// The label as the engine stores it: one byte per UTF-16 unit. A label the
// record cannot hold as typed is refused rather than changed.
bool SetLabel(const std::string& utf8, std::string& err) {
    std::u16string label = port::ToUtf16(utf8);
    if (label.size() > engine::kMaxLabel) {
        err = "the label is longer than 127 characters";
        return false;
    }
    if (engine::LabelRoundTrip(label) != label) {
        err = "the label can hold only characters from U+0001 to U+00FF";
        return false;
    }
    engine::EngineOptions o;
    engine::GetOptions(&o);
    engine::LabelToOptions(label, o);
    o.EjectWhenDone = 0;
    engine::SetOptions(o);
    return true;
}

// A default label: the image file's name without ".iso", as far as it fits.
std::string DefaultLabel(const std::string& out) {
    std::string stem = engine::HostBaseName(out);
    if (stem.size() > 4 && strcasecmp(stem.c_str() + stem.size() - 4, ".iso") == 0)
        stem.resize(stem.size() - 4);
    std::u16string u = port::ToUtf16(stem);
    if (u.size() > 32)
        u.resize(32);
    for (char16_t& c : u)
        if (c > 0xFF)
            c = u'_';
    return port::ToUtf8(u);
}

int WaitForBuild(BuildWatch& watch, bool quiet) {
    const bool terminal = !quiet && ::isatty(STDERR_FILENO);
    bool aborted = false;
    ProgressLine line(watch.bytes.load());
    std::unique_lock lock(watch.mutex);
    while (!watch.done) {
        watch.cv.wait_for(lock, std::chrono::milliseconds(100));
        if (g_interrupted && !aborted && !watch.done) {
            aborted = true;
            lock.unlock();
            engine::Abort();
            lock.lock();
        }
        if (terminal && !watch.done)
            line.Draw(watch.percent.load());
    }
    if (watch.failed)
        line.End();
    else
        line.Clear();
    // The engine's report says what is on disk: a stop that came too late
    // to stop anything leaves a complete image, and that is the outcome.
    if (!watch.failed) {
        if (aborted || g_interrupted)
            Tell("build-iso", "the image was complete before the stop; kept");
        return 0;
    }
    if (aborted)
        return (Tell("build-iso", "stopped; no image was written"), kExitInterrupted);
    return Fail(watch.error);
}

} // namespace

int BuildIso(const Args& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n"
                    "Builds an ISO image OUT (Joliet, Rock Ridge, ISO level 3). A SOURCE\n"
                    "folder becomes a folder of the image root; a SOURCE file goes to the\n"
                    "root. The label defaults to OUT's name. What is built is said on\n"
                    "stderr, with a progress bar on a terminal; --quiet leaves both out. An OUT "
                    "that is a symbolic\n"
                    "link or a read-only file is replaced only with --force. Links that\n"
                    "lead nowhere or in a loop, devices, pipes and kernel files without\n"
                    "a size are left out with a word, and so is OUT itself when a SOURCE\n"
                    "holds it. Ctrl-C stops the build and leaves\n"
                    "no image. Exit status: 0 built, 1 failed, 2 wrong usage, 130 stopped.\n",
                    kUsage);
        return 0;
    }
    Options o;
    std::string err;
    if (!ParseArgs(args, o, err))
        return Misuse("build-iso", err);
    for (const std::string& s : o.sources) {
        struct stat st;
        if (::stat(s.c_str(), &st) != 0)
            return Fail(engine::DescribeBuildError({port::ErrorFromErrno(errno), s}));
    }
    if (!OutputMayBeReplaced(o, err))
        return Fail(err);
    if (!engine::Initialize())
        return Fail("the burning engine did not start");

    // Ctrl-C from here on stops the build the engine's way.
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    BuildWatch watch;
    Gatherer gatherer;
    engine::SetProcessEventCallback(OnProgress, &watch);
    engine::SetBurnDoneEventCallback(OnDone, &watch);
    engine::SetAddFileEventCallback(OnFileAdded, &watch);
    engine::SetCreateDirEventCallback(Gatherer::OnDirCreated, &gatherer);
    engine::DeleteProject();
    engine::CreateProject(engine::kProjectData);

    int status = 0;
    const std::string label = o.haveLabel ? o.label : DefaultLabel(o.out);
    if (!o.quiet) {
        std::string from;
        for (const std::string& s : o.sources)
            from += (from.empty() ? "" : ", ") + s;
        Tell("build-iso", "building " + o.out + " (label \"" + label + "\") from " + from);
    }
    gatherer.SetOutput(o.out);
    if (!SetLabel(label, err)) {
        status = Fail(err);
    } else {
        for (const std::string& s : o.sources) {
            if (engine::BuildError e = gatherer.Add(s, engine::SourceName(s))) {
                status = Fail(engine::DescribeBuildError(e));
                break;
            }
        }
    }
    if (status == 0 && g_interrupted)
        status = (Tell("build-iso", "stopped; no image was written"), kExitInterrupted);
    if (status == 0) {
        std::u16string out = port::ToUtf16(o.out);
        engine::PrepareISO();
        engine::BuildISO(out.c_str());
        status = WaitForBuild(watch, o.quiet);
    }
    engine::DeleteProject();
    engine::DeInitialize();
    return status;
}

} // namespace cli
