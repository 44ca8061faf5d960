// ISO image writing: project tree -> libisofs image -> temporary file ->
// target path.
// The writer reads libisofs's burn_source itself, without libburn.
#define LIBISOFS_WITHOUT_LIBBURN 1
#include "burner/IsoBuilder.h"

#include "burner/IsoStream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace burner {

const char* const kStoppedText = "Stopped by the user";

namespace {

// The generator and the writer hand over 256 KiB at a time through a 2 MiB
// ring: small enough that the data is still in the CPU cache when write()
// copies it out (a 16 MiB ring doubled the system time), large enough that
// the two threads rarely wait for each other.
constexpr std::size_t kChunk = 256 << 10;
constexpr std::size_t kFifoBlocks = 1024;
constexpr std::uint64_t kFourGiB = 4ull << 30;

std::string Errno(int err) { return std::strerror(err); }

std::string IsoError(int code) {
    const char* msg = iso_error_to_msg(code);
    return msg ? msg : "unknown error";
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

// The temporary file the image is written to, removed unless kept.
class TempFile {
public:
    explicit TempFile(const TempFileFn& tell) : tell_(tell) {}
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty()) {
            ::unlink(path_.c_str());
            Tell({});
        }
    }
    std::string Create(const std::string& target) {
        std::size_t slash = target.rfind('/');
        std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        std::vector<char> name(dir.begin(), dir.end());
        if (dir.back() != '/')
            name.push_back('/');
        const char kPattern[] = ".spindle-image-XXXXXX";
        name.insert(name.end(), kPattern, kPattern + sizeof kPattern);
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0)
            return "Cannot write " + target + ": " + Errno(errno);
        path_ = name.data();
        Tell(path_);
        return {};
    }
    int fd() const { return fd_; }
    // Closes the file and renames it to `target`.
    std::string Commit(const std::string& target) {
        ::fchmod(fd_, 0666 & ~CurrentUmask());
        int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0)
            return "Cannot write " + target + ": " + Errno(errno);
        if (::rename(path_.c_str(), target.c_str()) != 0)
            return "Cannot write " + target + ": " + Errno(errno);
        path_.clear();
        Tell({});
        return {};
    }

private:
    void Tell(const std::string& path) {
        if (tell_)
            tell_(path);
    }

    const TempFileFn& tell_;
    int fd_ = -1;
    std::string path_;
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
    TreeLoader(const ImageSettings& s, BuildFailure* failure) : settings_(s), failure_(failure) {}

    std::string Load(const ProjectNode& node, IsoDir* dir) {
        for (const auto& [name, child] : node.children) {
            if (failure_->StopRequested())
                return kStoppedText;
            std::string err = child->isDir ? AddDir(*child, dir) : AddFile(*child, dir);
            if (!err.empty())
                return err;
        }
        return {};
    }

private:
    std::string AddDir(const ProjectNode& node, IsoDir* parent) {
        IsoDir* dir = nullptr;
        int rc = iso_tree_add_new_dir(parent, node.name.c_str(), &dir);
        if (rc < 0)
            return "Cannot add folder " + node.name + ": " + IsoError(rc);
        auto* n = reinterpret_cast<IsoNode*>(dir);
        iso_node_set_permissions(n, 0555);
        iso_node_set_uid(n, 0);
        iso_node_set_gid(n, 0);
        iso_node_set_mtime(n, now_);
        iso_node_set_atime(n, now_);
        iso_node_set_ctime(n, now_);
        return Load(node, dir);
    }

    std::string AddFile(const ProjectNode& node, IsoDir* parent) {
        struct stat st;
        if (::stat(node.source.c_str(), &st) != 0)
            return "Cannot read " + node.source + ": " + Errno(errno);
        if (!S_ISREG(st.st_mode))
            return "Cannot read " + node.source + ": not a regular file";
        auto size = static_cast<std::uint64_t>(st.st_size);
        if (size >= kFourGiB && settings_.isoLevel < 3)
            return node.source + " is 4 GiB or larger, which needs ISO level 3";
        IsoStream* stream = nullptr;
        int rc = NewHostFileStream(node.source, size, st.st_dev, st.st_ino, failure_, &stream);
        if (rc < 0)
            return "Cannot add " + node.source + ": " + IsoError(rc);
        IsoFile* file = nullptr;
        rc = iso_tree_add_new_file(parent, node.name.c_str(), stream, &file);
        if (rc < 0) {
            iso_stream_unref(stream);
            return "Cannot add " + node.source + ": " + IsoError(rc);
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

    const ImageSettings& settings_;
    BuildFailure* failure_;
    time_t now_ = std::time(nullptr);
};

std::string MakeOptions(const ImageSettings& s, OptsRef& o) {
    int rc = iso_write_opts_new(&o.opts, 0);
    if (rc < 0)
        return "Cannot build the image: " + IsoError(rc);
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

std::string WriteAll(int fd, const unsigned char* p, std::size_t n, const std::string& target) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            int err = w < 0 ? errno : ENOSPC;
            if (err == ENOSPC || err == EDQUOT)
                return "The disk is full: cannot write " + target;
            return "Cannot write " + target + ": " + Errno(err);
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return {};
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
std::string Pump(burn_source* src, int fd, const std::string& target,
                 const std::atomic<bool>& stop, const BuildFailure& failure,
                 const ProgressFn& progress) {
    const auto total = static_cast<std::uint64_t>(src->get_size(src));
    std::vector<unsigned char> buf(kChunk);
    std::uint64_t done = 0;
    int lastPercent = 0;
    bool holeAtEnd = false;
    while (done < total) {
        std::size_t want = total - done < kChunk ? static_cast<std::size_t>(total - done) : kChunk;
        WaitForChunk(src, want, stop, failure);
        if (stop.load())
            return kStoppedText;
        if (failure.Failed())
            return failure.Message();
        int got = src->read_xt(src, buf.data(), static_cast<int>(want));
        if (stop.load())
            return kStoppedText;
        if (failure.Failed())
            return failure.Message();
        if (got != static_cast<int>(want))
            return "The image generator failed before the end of the image";
        if (AllZero(buf.data(), want)) {
            if (::lseek(fd, static_cast<off_t>(want), SEEK_CUR) < 0)
                return "Cannot write " + target + ": " + Errno(errno);
            holeAtEnd = true;
        } else {
            std::string err = WriteAll(fd, buf.data(), want, target);
            if (!err.empty())
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
        return "Cannot write " + target + ": " + Errno(errno);
    return {};
}

} // namespace

std::string WriteIsoImage(const ProjectNode& root, const ImageSettings& settings,
                          const std::string& outPath, const std::atomic<bool>& stop,
                          const ProgressFn& progress, const TempFileFn& tempFile) {
    if (outPath.empty())
        return "No image path was given";
    struct stat st;
    if (::stat(outPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return "Cannot write " + outPath + ": it is a folder";
    if (progress)
        progress(0.0f);

    TempFile temp(tempFile);
    std::string err = temp.Create(outPath);
    if (!err.empty())
        return err;

    BuildFailure failure(stop);
    ImageRef image;
    iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    int rc = iso_image_new("", &image.image);
    if (rc < 0)
        return "Cannot build the image: " + IsoError(rc);
    iso_image_set_volume_id(image.image, VolumeIdBytes(settings.volumeId).c_str());
    iso_image_set_application_id(image.image, "SPINDLE");
    err = TreeLoader(settings, &failure).Load(root, iso_image_get_root(image.image));
    if (!err.empty())
        return err;
    if (stop.load())
        return kStoppedText;

    OptsRef opts;
    err = MakeOptions(settings, opts);
    if (!err.empty())
        return err;
    SourceRef source;
    rc = iso_image_create_burn_source(image.image, opts.opts, &source.src);
    if (rc < 0)
        return "Cannot build the image: " + IsoError(rc);

    err = Pump(source.src, temp.fd(), outPath, stop, failure, progress);
    source.Release(); // joins the generator, so every stream has reported
    if (err.empty() && failure.Failed())
        err = failure.Message();
    if (err.empty() && stop.load())
        err = kStoppedText;
    if (!err.empty())
        return err;
    err = temp.Commit(outPath);
    if (!err.empty())
        return err;
    if (progress)
        progress(100.0f);
    return {};
}

} // namespace burner
