// ISO image writing: project tree -> libisofs image -> temporary file ->
// target path.
// The writer reads libisofs's burn_source itself, without libburn.
#define LIBISOFS_WITHOUT_LIBBURN 1
#include "burner/IsoBuilder.h"

#include "burner/IsoStream.h"
#include "engine/BuildError.h"
#include "engine/Job.h"

#include "port/Errors.h"
#include "port/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

namespace {

using engine::BuildError;

// The generator and the writer hand over 256 KiB at a time through a 2 MiB
// ring: small enough that the data is still in the CPU cache when write()
// copies it out (a 16 MiB ring doubled the system time), large enough that
// the two threads rarely wait for each other.
constexpr std::size_t kChunk = 256 << 10;
constexpr std::size_t kFifoBlocks = 1024;
constexpr std::uint64_t kFourGiB = 4ull << 30;
constexpr char kTempPrefix[] = ".spindle-image-";

BuildError Stopped() {
    return {port::ERROR_OPERATION_ABORTED, {}};
}
BuildError FromErrno(int err, const std::string& path) {
    return {port::ErrorFromErrno(err), path};
}

// An error of the image's own path: a missing part is its folder.
BuildError TargetError(int err, const std::string& target) {
    return err == ENOENT ? BuildError{port::ERROR_PATH_NOT_FOUND, target} : FromErrno(err, target);
}

BuildError FromIso(int code, const std::string& path) {
    return {code == static_cast<int>(ISO_OUT_OF_MEM) ? port::ERROR_NOT_ENOUGH_MEMORY
                                                     : port::ERROR_GEN_FAILURE,
            path};
}

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

std::string FolderOf(const std::string& target) {
    std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? "./" : target.substr(0, slash + 1);
}

// A hidden name beside the target that carries this process's id, so a
// later build can tell whether its maker still runs.
std::string HiddenName(const std::string& folder, const char* tail) {
    return folder + kTempPrefix + std::to_string(::getpid()) + "-" + tail;
}

// The file the image is written to. Where the file system allows it, the
// file has no name until the image is complete (O_TMPFILE), so a process
// that dies leaves nothing behind; it is then linked under a hidden name and
// renamed over the target. Elsewhere it has a hidden name from the start,
// and RemoveStaleTempFiles clears those of dead processes.
class TempFile {
public:
    explicit TempFile(const TempFileFn& tell) : m_tell(tell) {}
    ~TempFile() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
            Tell({});
        }
    }
    BuildError Create(const std::string& target) {
        const std::string folder = FolderOf(target);
        RemoveStaleTempFiles(folder);
        if (::access("/proc/self/fd", X_OK) == 0) {
            m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (m_fd >= 0)
                return {};
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return TargetError(errno, target);
        }
        std::string name = HiddenName(folder, "XXXXXX");
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0)
            return TargetError(errno, target);
        m_path = name;
        Tell(m_path);
        return {};
    }
    int fd() const { return m_fd; }
    // Closes the file and puts it in the target's place.
    BuildError Commit(const std::string& target) {
        ::fchmod(m_fd, 0666 & ~CurrentUmask());
        if (m_path.empty()) {
            BuildError err = LinkUnnamed(target);
            if (err)
                return err;
        }
        int rc = ::close(m_fd);
        m_fd = -1;
        if (rc != 0)
            return FromErrno(errno, target);
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            return FromErrno(errno, target);
        m_path.clear();
        Tell({});
        return {};
    }

private:
    BuildError LinkUnnamed(const std::string& target) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        std::random_device random;
        for (int attempt = 0; attempt < 20; ++attempt) {
            char tail[16];
            std::snprintf(tail, sizeof tail, "%08x", static_cast<unsigned>(random()));
            std::string name = HiddenName(FolderOf(target), tail);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_path = name;
                Tell(m_path);
                return {};
            }
            if (errno != EEXIST)
                return FromErrno(errno, target);
        }
        return {port::ERROR_FILE_EXISTS, target};
    }

    void Tell(const std::string& path) {
        if (m_tell)
            m_tell(path);
    }

    const TempFileFn& m_tell;
    int m_fd = -1;
    std::string m_path;
};

struct ImageRef {
    IsoImage* image = nullptr;
    ~ImageRef() {
        if (image)
            iso_image_unref(image);
    }
};

struct OptsRef {
    IsoWriteOpts* opts = nullptr;
    ~OptsRef() {
        if (opts)
            iso_write_opts_free(opts);
    }
};

// Owns the burn source; stops and joins its generator thread on the way out.
struct SourceRef {
    burn_source* src = nullptr;
    ~SourceRef() { Release(); }
    void Release() {
        if (!src)
            return;
        src->cancel(src);
        src->free_data(src);
        std::free(src);
        src = nullptr;
    }
};

class TreeLoader {
public:
    TreeLoader(const ImageSettings& s, BuildFailure* failure) : m_settings(s), m_failure(failure) {}

    BuildError Load(const ProjectNode& node, IsoDir* dir) {
        for (const auto& [name, child] : node.children) {
            if (m_failure->StopRequested())
                return Stopped();
            BuildError err = child->isDir ? AddDir(*child, dir) : AddFile(*child, dir);
            if (err)
                return err;
        }
        return {};
    }

private:
    BuildError AddDir(const ProjectNode& node, IsoDir* parent) {
        IsoDir* dir = nullptr;
        int rc = iso_tree_add_new_dir(parent, node.name.c_str(), &dir);
        if (rc < 0)
            return FromIso(rc, node.name);
        auto* n = reinterpret_cast<IsoNode*>(dir);
        iso_node_set_permissions(n, 0555);
        iso_node_set_uid(n, 0);
        iso_node_set_gid(n, 0);
        iso_node_set_mtime(n, m_now);
        iso_node_set_atime(n, m_now);
        iso_node_set_ctime(n, m_now);
        return Load(node, dir);
    }

    BuildError AddFile(const ProjectNode& node, IsoDir* parent) {
        struct stat st;
        if (::stat(node.source.c_str(), &st) != 0)
            return FromErrno(errno, node.source);
        if (!S_ISREG(st.st_mode))
            return {engine::ERROR_BUILD_NOT_REGULAR, node.source};
        auto size = static_cast<std::uint64_t>(st.st_size);
        if (size >= kFourGiB && m_settings.isoLevel < 3)
            return {engine::ERROR_BUILD_TOO_LARGE, node.source};
        IsoStream* stream = nullptr;
        int rc = NewHostFileStream(node.source, size, st.st_dev, st.st_ino, m_failure, &stream);
        if (rc < 0)
            return FromIso(rc, node.source);
        IsoFile* file = nullptr;
        rc = iso_tree_add_new_file(parent, node.name.c_str(), stream, &file);
        if (rc < 0) {
            iso_stream_unref(stream);
            return FromIso(rc, node.source);
        }
        auto* n = reinterpret_cast<IsoNode*>(file);
        iso_node_set_permissions(n, (st.st_mode & 0755) | 0444);
        iso_node_set_uid(n, 0);
        iso_node_set_gid(n, 0);
        iso_node_set_mtime(n, st.st_mtime);
        iso_node_set_atime(n, st.st_atime);
        iso_node_set_ctime(n, st.st_ctime);
        return {};
    }

    const ImageSettings& m_settings;
    BuildFailure* m_failure;
    time_t m_now = std::time(nullptr);
};

BuildError MakeOptions(const ImageSettings& s, OptsRef& o) {
    int rc = iso_write_opts_new(&o.opts, 0);
    if (rc < 0)
        return FromIso(rc, {});
    iso_write_opts_set_iso_level(o.opts, s.isoLevel);
    iso_write_opts_set_rockridge(o.opts, s.rockRidge ? 1 : 0);
    iso_write_opts_set_joliet(o.opts, s.joliet ? 1 : 0);
    if (s.joliet) {
        // Windows reads Joliet names of up to 103 characters and paths
        // beyond 240; cutting names at 64 would lose what the user typed.
        iso_write_opts_set_joliet_long_names(o.opts, 1);
        iso_write_opts_set_joliet_longer_paths(o.opts, 1);
        iso_write_opts_set_joliet_utf16(o.opts, 1);
        iso_write_opts_set_omit_version_numbers(o.opts, 2);
    }
    iso_write_opts_set_relaxed_vol_atts(o.opts, 1); // the label as written
    iso_write_opts_set_dir_rec_mtime(o.opts, 1);
    iso_write_opts_set_fifo_size(o.opts, kFifoBlocks);
    return {};
}

// The primary descriptor holds 32 bytes of volume id, and libisofs cuts
// there even inside a character. Cut before it instead. The Joliet id holds
// 16 characters, which for the engine's 8-bit labels always lie within
// those 32 bytes, so it loses nothing by this.
std::string VolumeIdBytes(const std::string& utf8) {
    constexpr std::size_t kMax = 32;
    if (utf8.size() <= kMax)
        return utf8;
    std::size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
        --n;
    return utf8.substr(0, n);
}

bool AllZero(const unsigned char* p, std::size_t n) {
    return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

BuildError WriteAll(int fd, const unsigned char* p, std::size_t n, const std::string& target) {
    if (port::WriteAll(fd, p, n))
        return {};
    const int err = errno;
    if (err == ENOSPC || err == EDQUOT)
        return {port::ERROR_DISK_FULL, target};
    return FromErrno(err, target);
}

// Waits (briefly) until the generator has a whole chunk ready, so that the
// two threads hand over megabytes rather than single 2 KiB blocks.
void WaitForChunk(burn_source* src, std::size_t want, const std::atomic<bool>& stop,
                  const BuildFailure& failure) {
    // Back off from 50 us to 2 ms between looks; after about 200 ms read
    // whatever there is (read_xt then blocks until the piece is complete).
    useconds_t pause = 50, waited = 0;
    while (waited < 200000) {
        std::size_t cap = 0, free = 0;
        int st = iso_ring_buffer_get_status(src, &cap, &free);
        if (st != 1 || cap - free >= want || stop.load() || failure.Failed())
            return;
        ::usleep(pause);
        waited += pause;
        pause = pause < 2000 ? pause * 2 : 2000;
    }
}

// Copies the image from the generator into the file.
BuildError Pump(burn_source* src, int fd, const std::string& target, const std::atomic<bool>& stop,
                const BuildFailure& failure, const ProgressFn& progress) {
    const auto total = static_cast<std::uint64_t>(src->get_size(src));
    std::vector<unsigned char> buf(kChunk);
    std::uint64_t done = 0;
    int lastPercent = 0;
    bool holeAtEnd = false;
    while (done < total) {
        std::size_t want = total - done < kChunk ? static_cast<std::size_t>(total - done) : kChunk;
        WaitForChunk(src, want, stop, failure);
        if (stop.load())
            return Stopped();
        if (failure.Failed())
            return failure.Error();
        int got = src->read_xt(src, buf.data(), static_cast<int>(want));
        if (stop.load())
            return Stopped();
        if (failure.Failed())
            return failure.Error();
        if (got != static_cast<int>(want))
            return {port::ERROR_GEN_FAILURE, {}};
        if (AllZero(buf.data(), want)) {
            if (::lseek(fd, static_cast<off_t>(want), SEEK_CUR) < 0)
                return FromErrno(errno, target);
            holeAtEnd = true;
        } else {
            BuildError err = WriteAll(fd, buf.data(), want, target);
            if (err)
                return err;
            holeAtEnd = false;
        }
        done += want;
        int percent = static_cast<int>(done * 100 / total);
        if (percent > lastPercent && percent < 100) {
            lastPercent = percent;
            if (progress)
                progress(static_cast<float>(percent));
        }
    }
    if (holeAtEnd && ::ftruncate(fd, static_cast<off_t>(total)) != 0)
        return FromErrno(errno, target);
    return {};
}

} // namespace

BuildError WriteIsoImage(const ProjectNode& root, const ImageSettings& settings,
                         const std::string& outPath, const std::atomic<bool>& stop,
                         const ProgressFn& progress, const TempFileFn& tempFile) {
    if (outPath.empty())
        return {port::ERROR_INVALID_PARAMETER, {}};
    struct stat st;
    if (::stat(outPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return {engine::ERROR_BUILD_IS_FOLDER, outPath};
    if (progress)
        progress(0.0f);

    TempFile temp(tempFile);
    BuildError err = temp.Create(outPath);
    if (err)
        return err;

    BuildFailure failure(stop);
    ImageRef image;
    iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    int rc = iso_image_new("", &image.image);
    if (rc < 0)
        return FromIso(rc, {});
    iso_image_set_volume_id(image.image, VolumeIdBytes(settings.volumeId).c_str());
    iso_image_set_application_id(image.image, "SPINDLE");
    err = TreeLoader(settings, &failure).Load(root, iso_image_get_root(image.image));
    if (err)
        return err;
    if (stop.load())
        return Stopped();

    OptsRef opts;
    err = MakeOptions(settings, opts);
    if (err)
        return err;
    SourceRef source;
    rc = iso_image_create_burn_source(image.image, opts.opts, &source.src);
    if (rc < 0)
        return FromIso(rc, {});

    err = Pump(source.src, temp.fd(), outPath, stop, failure, progress);
    source.Release(); // joins the generator, so every stream has reported
    if (!err && failure.Failed())
        err = failure.Error();
    if (!err && stop.load())
        err = Stopped();
    if (err)
        return err;
    err = temp.Commit(outPath);
    if (err)
        return err;
    if (progress)
        progress(100.0f);
    return {};
}

void RemoveStaleTempFiles(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return;
    const std::size_t prefix = sizeof kTempPrefix - 1;
    const pid_t self = ::getpid();
    while (dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, kTempPrefix, prefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(e->d_name + prefix, &end, 10);
        // Only names that carry a process id, of a process that is gone.
        if (pid <= 0 || end == e->d_name + prefix || *end != '-' || pid == self)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

engine::JobOutcome ImageBuildJob::Run(engine::JobObserver& observer) {
    engine::BuildError error = WriteIsoImage(
        *m_root, m_settings, m_outPath, m_stop, [&](float p) { observer.OnProgress(p); },
        m_tempFile);
    m_root.reset();
    engine::JobOutcome outcome{Kind(), error.code, error.path};
    observer.OnEnd(outcome);
    return outcome;
}

} // namespace burner
