// build-iso [--label L] OUT SOURCE...: builds an ISO image with the engine.
// A source folder becomes a folder of the image root, with everything in it;
// a source file goes to the root. On a terminal a progress bar is drawn on
// stderr. Ctrl-C stops the build the way Abort does: no image is left.
#include "cli/Commands.h"

#include "engine/Engine.h"
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
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

struct BuildWatch {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool failed = false;
    std::string error;
    std::atomic<float> percent{0.0f};
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
                 const char16_t* imagePath, std::uint64_t, std::uint32_t, std::int64_t,
                 std::int32_t renamed, void*) {
    if (renamed && name)
        std::fprintf(stderr, "spindle-cli: %s is stored as %s\n", port::ToUtf8(source).c_str(),
                     port::ToUtf8(imagePath).c_str());
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "spindle-cli: %s\n", message.c_str());
    return 1;
}

std::string BaseName(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a source takes in the image root: its own name, or for "." and
// the like the name of the folder it stands for.
std::string SourceName(const std::string& path) {
    std::string name = BaseName(path);
    if (name != "." && name != ".." && name != "/")
        return name;
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) {
        name = BaseName(real);
        if (name != "/")
            return name;
    }
    return "root";
}

// Adds the contents of host folder `dir` to image folder `imageDir` ("\A").
// `seen` holds the folders on the way down, so a link loop ends.
class Gatherer {
public:
    std::string AddFolder(const std::string& dir, const std::string& imageDir,
                          std::set<std::pair<dev_t, ino_t>>& seen) {
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return "cannot read " + dir + ": " + std::strerror(errno);
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string err = AddEntry(dir + "/" + name, name, imageDir, seen);
            if (!err.empty())
                return err;
        }
        return {};
    }

    std::string AddEntry(const std::string& path, const std::string& name,
                         const std::string& imageDir, std::set<std::pair<dev_t, ino_t>>& seen) {
        // The engine takes UTF-16 paths: a host name in another encoding
        // would reach it changed and could not be read back.
        if (port::ToUtf8(port::ToUtf16(path)) != path)
            return "cannot add " + path + ": its name is not UTF-8 text";
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            int err = errno;
            struct stat link;
            if (err == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
                // A link that leads nowhere has no content to store.
                std::fprintf(stderr, "spindle-cli: skipping %s: the link leads nowhere\n",
                             path.c_str());
                return {};
            }
            return "cannot read " + path + ": " + std::strerror(err);
        }
        if (S_ISREG(st.st_mode)) {
            std::u16string src = port::ToUtf16(path), where = port::ToUtf16(imageDir);
            engine::FileRecord r{src.c_str(), where.c_str(), nullptr, 0, 0};
            int rc = engine::AddFile(r);
            return rc == 0 ? std::string() : "cannot add " + path + " (error " + std::to_string(rc) + ")";
        }
        if (!S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "spindle-cli: skipping %s: not a file or folder\n", path.c_str());
            return {};
        }
        auto id = std::make_pair(st.st_dev, st.st_ino);
        if (seen.count(id)) {
            std::fprintf(stderr, "spindle-cli: skipping %s: it links back to a folder above it\n",
                         path.c_str());
            return {};
        }
        std::u16string n = port::ToUtf16(name), parent = port::ToUtf16(imageDir);
        int rc = engine::CreateDir(n.c_str(), parent.c_str());
        if (rc != 0)
            return "cannot add folder " + path + (rc == 183 ? ": another source has that name"
                                                             : " (error " + std::to_string(rc) + ")");
        std::string own = (imageDir == "\\" ? "\\" : imageDir + "\\") + lastName_;
        seen.insert(id);
        std::string err = AddFolder(path, own, seen);
        seen.erase(id);
        return err;
    }

    // The name the engine gave the last folder (reported during CreateDir).
    static void OnDirCreated(const char16_t*, const char16_t* name, const char16_t*,
                             const char16_t*, void* user) {
        static_cast<Gatherer*>(user)->lastName_ = port::ToUtf8(name);
    }

private:
    std::string lastName_;
};

void DrawBar(float percent) {
    constexpr int kWidth = 40;
    int filled = static_cast<int>(percent * kWidth / 100.0f);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, static_cast<int>(percent));
    std::fflush(stderr);
}

struct Options {
    std::string label;
    bool haveLabel = false;
    std::string out;
    std::vector<std::string> sources;
};

constexpr char kUsage[] = "usage: spindle-cli build-iso [--label L] OUT SOURCE...";

bool ParseArgs(const Args& args, Options& o, std::string& err) {
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
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
    if (o.out.empty()) {
        err = kUsage;
        return false;
    }
    return true;
}

// The label as the engine stores it: one byte per UTF-16 unit.
bool SetLabel(const std::string& utf8, std::string& err) {
    std::u16string label = port::ToUtf16(utf8);
    if (label.size() > 127) {
        err = "the label is longer than 127 characters";
        return false;
    }
    for (char16_t c : label) {
        if (c > 0xFF) {
            err = "the label can hold only characters up to U+00FF";
            return false;
        }
    }
    engine::EngineOptions o;
    engine::GetOptions(&o);
    std::size_t i = 0;
    for (char16_t c : label)
        o.VolumeLabel[i++] = static_cast<char>(c & 0xFF);
    o.VolumeLabel[i] = '\0';
    o.EjectWhenDone = 0;
    engine::SetOptions(o);
    return true;
}

// A default label: the image file's name without ".iso", as far as it fits.
std::string DefaultLabel(const std::string& out) {
    std::string stem = BaseName(out);
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

int WaitForBuild(BuildWatch& watch) {
    const bool terminal = ::isatty(STDERR_FILENO);
    bool aborted = false, barShown = false;
    std::unique_lock lock(watch.mutex);
    while (!watch.done) {
        watch.cv.wait_for(lock, std::chrono::milliseconds(100));
        if (g_interrupted && !aborted) {
            aborted = true;
            lock.unlock();
            engine::Abort();
            lock.lock();
        }
        if (terminal && !watch.done) {
            DrawBar(watch.percent.load());
            barShown = true;
        }
    }
    if (barShown && watch.failed)
        std::fputc('\n', stderr);
    else if (barShown)
        std::fprintf(stderr, "\r%60s\r", "");
    if (aborted)
        return (std::fprintf(stderr, "spindle-cli: stopped; no image was written\n"), 130);
    if (watch.failed)
        return Fail(watch.error);
    return 0;
}

} // namespace

int BuildIso(const Args& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n"
                    "Builds an ISO image OUT (Joliet, Rock Ridge, ISO level 3). A SOURCE\n"
                    "folder becomes a folder of the image root; a SOURCE file goes to the\n"
                    "root. The label defaults to OUT's name. Ctrl-C stops the build and\n"
                    "leaves no image.\n",
                    kUsage);
        return 0;
    }
    Options o;
    std::string err;
    if (!ParseArgs(args, o, err))
        return (std::fprintf(stderr, "spindle-cli: %s\n", err.c_str()), 2);
    for (const std::string& s : o.sources) {
        struct stat st;
        if (::stat(s.c_str(), &st) != 0)
            return Fail("cannot read " + s + ": " + std::strerror(errno));
    }
    if (!engine::Initialize())
        return Fail("the burning engine did not start");

    BuildWatch watch;
    Gatherer gatherer;
    engine::SetProcessEventCallback(OnProgress, &watch);
    engine::SetBurnDoneEventCallback(OnDone, &watch);
    engine::SetAddFileEventCallback(OnFileAdded, nullptr);
    engine::SetCreateDirEventCallback(Gatherer::OnDirCreated, &gatherer);
    engine::DeleteProject();
    engine::CreateProject(engine::kProjectData);

    int status = 0;
    if (!SetLabel(o.haveLabel ? o.label : DefaultLabel(o.out), err)) {
        status = Fail(err);
    } else {
        for (const std::string& s : o.sources) {
            std::set<std::pair<dev_t, ino_t>> seen;
            err = gatherer.AddEntry(s, SourceName(s), "\\", seen);
            if (!err.empty())
                break;
        }
        if (!err.empty())
            status = Fail(err);
    }
    if (status == 0) {
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        struct sigaction oldInt, oldTerm;
        sigaction(SIGINT, &sa, &oldInt);
        sigaction(SIGTERM, &sa, &oldTerm);
        std::u16string out = port::ToUtf16(o.out);
        engine::PrepareISO();
        engine::BuildISO(out.c_str());
        status = WaitForBuild(watch);
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
    }
    engine::DeleteProject();
    engine::DeInitialize();
    return status;
}

} // namespace cli
