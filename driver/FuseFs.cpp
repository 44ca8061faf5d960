#define FUSE_USE_VERSION 312
#include "driver/FuseFs.h"

#include <fuse3/fuse_lowlevel.h>
#include <linux/fuse.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace driver {

// What an open file handle holds: its mount stays alive (and counted as in
// use) until release.
struct FuseFs::OpenFile {
    std::shared_ptr<driver::Mount> mount;
    std::uint32_t node;
};

namespace {

constexpr fuse_ino_t kRootIno = FUSE_ROOT_ID;
// The image never changes while loaded: the kernel may keep what it learns.
constexpr double kImageTimeout = 86400.0;
// Drive folders come and go; changes are also pushed with invalidations.
constexpr double kDriveTimeout = 1.0;
// Block size reported to readers: cat and cp size their buffers from it.
constexpr blksize_t kBlockSize = 1 << 20;
constexpr unsigned kMaxThreads = 16;
constexpr unsigned kOneDriveThreads = 4;
// Largest read request: two requests of a reader's 1 MiB read() are served
// side by side; larger requests measured slower (the data no longer stays
// in the CPU caches between the two copies).
constexpr unsigned kMaxRead = 512 << 10;

bool g_verbose = false;
// Owner shown for every file: whoever runs the driver.
const uid_t g_uid = getuid();
const gid_t g_gid = getgid();
// The drives folder is as old as the driver.
const time_t g_started = time(nullptr);

void LogToStderr(enum fuse_log_level level, const char* fmt, va_list ap) {
    if (g_verbose || level <= FUSE_LOG_CRIT)
        vfprintf(stderr, fmt, ap);
}

fuse_ino_t MakeIno(std::uint32_t serial, std::uint32_t node) {
    return (static_cast<fuse_ino_t>(serial) << 32) | (static_cast<fuse_ino_t>(node) + 1);
}

struct InoRef {
    std::shared_ptr<Mount> mount;
    std::uint32_t node = 0;
};

FuseFs& Fs(fuse_req_t req) {
    return *static_cast<FuseFs*>(fuse_req_userdata(req));
}

DeviceTable& Table(fuse_req_t req) {
    return Fs(req).table();
}

// The mount and node of an inode, or nothing when its drive has gone.
bool Resolve(fuse_req_t req, fuse_ino_t ino, InoRef& ref) {
    auto serial = static_cast<std::uint32_t>(ino >> 32);
    auto low = static_cast<std::uint32_t>(ino & 0xFFFFFFFFu);
    if (serial == 0 || low == 0)
        return false;
    ref.mount = Table(req).BySerial(serial);
    ref.node = low - 1;
    return ref.mount && ref.node < ref.mount->image->nodeCount();
}

void FillRootAttr(struct stat& st) {
    st = {};
    st.st_ino = kRootIno;
    st.st_mode = S_IFDIR | 0555;
    st.st_nlink = 2;
    st.st_uid = g_uid;
    st.st_gid = g_gid;
    st.st_blksize = kBlockSize;
    st.st_mtim.tv_sec = st.st_ctim.tv_sec = st.st_atim.tv_sec = g_started;
}

void FillAttr(const Mount& m, std::uint32_t index, struct stat& st) {
    const Node& n = m.image->node(index);
    st = {};
    st.st_ino = MakeIno(m.serial, index);
    switch (n.kind) {
    case NodeKind::Dir:
        st.st_mode = S_IFDIR;
        break;
    case NodeKind::File:
        st.st_mode = S_IFREG;
        break;
    case NodeKind::Symlink:
        st.st_mode = S_IFLNK;
        break;
    case NodeKind::Special:
        st.st_mode = static_cast<mode_t>(n.special);
        st.st_rdev = static_cast<dev_t>(n.rdev);
        break;
    }
    st.st_mode |= n.perm;
    // 1 for folders: "subfolder count unknown", so no tool takes shortcuts.
    st.st_nlink = 1;
    st.st_uid = g_uid;
    st.st_gid = g_gid;
    st.st_size = static_cast<off_t>(n.kind == NodeKind::Dir ? 2048 : n.size);
    st.st_blocks = static_cast<blkcnt_t>((n.size + 511) / 512);
    st.st_blksize = kBlockSize;
    st.st_mtim.tv_sec = n.mtime;
    st.st_atim.tv_sec = n.atime;
    st.st_ctim.tv_sec = n.ctime;
}

void ReplyEntry(fuse_req_t req, const Mount& m, std::uint32_t index, double timeout) {
    fuse_entry_param e{};
    e.ino = MakeIno(m.serial, index);
    e.attr_timeout = timeout;
    e.entry_timeout = timeout;
    FillAttr(m, index, e.attr);
    fuse_reply_entry(req, &e);
}

std::optional<char> DriveName(const char* name) {
    if (name[0] >= 'A' && name[0] <= 'Z' && name[1] == '\0')
        return name[0];
    return std::nullopt;
}

void OpInit(void* userdata, struct fuse_conn_info* conn) {
    auto want = [conn](unsigned cap) {
        if (conn->capable & cap)
            conn->want |= cap;
    };
    // Data goes from the image's page cache to the kernel by splice: the
    // cheapest path measured (about 40 % less CPU than a copy through a buffer).
    want(FUSE_CAP_SPLICE_WRITE);
    want(FUSE_CAP_SPLICE_MOVE);
    want(FUSE_CAP_ASYNC_READ);
    want(FUSE_CAP_READDIRPLUS);
    want(FUSE_CAP_PARALLEL_DIROPS);
    want(FUSE_CAP_CACHE_SYMLINKS);
    // Folders are opened without a request to the driver, their listings
    // cached by the kernel: a second walk of a tree stays in the kernel.
    want(FUSE_CAP_NO_OPENDIR_SUPPORT);
    static_cast<FuseFs*>(userdata)->SetNoOpendir((conn->want & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0);
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_READDIRPLUS_AUTO);
    conn->max_read = kMaxRead;
}

void OpLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    parent = Fs(req).FromKernel(parent);
    if (parent == kRootIno) {
        auto letter = DriveName(name);
        auto m = letter ? Table(req).ByLetter(*letter) : nullptr;
        if (!m)
            return (void)fuse_reply_err(req, ENOENT);
        return ReplyEntry(req, *m, ImageFile::kRoot, kDriveTimeout);
    }
    InoRef ref;
    if (!Resolve(req, parent, ref))
        return (void)fuse_reply_err(req, ENOENT);
    auto child = ref.mount->image->Find(ref.node, name);
    if (!child) {
        // A negative entry the kernel may keep as long as the image.
        fuse_entry_param e{};
        e.entry_timeout = kImageTimeout;
        return (void)fuse_reply_entry(req, &e);
    }
    ReplyEntry(req, *ref.mount, *child, kImageTimeout);
}

void OpGetattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info*) {
    ino = Fs(req).FromKernel(ino);
    struct stat st;
    if (ino == kRootIno) {
        FillRootAttr(st);
        return (void)fuse_reply_attr(req, &st, 0.0);
    }
    InoRef ref;
    if (!Resolve(req, ino, ref))
        return (void)fuse_reply_err(req, ENOENT);
    FillAttr(*ref.mount, ref.node, st);
    fuse_reply_attr(req, &st, kImageTimeout);
}

void OpReadlink(fuse_req_t req, fuse_ino_t ino) {
    ino = Fs(req).FromKernel(ino);
    InoRef ref;
    if (!Resolve(req, ino, ref))
        return (void)fuse_reply_err(req, ENOENT);
    const Node& n = ref.mount->image->node(ref.node);
    if (n.kind != NodeKind::Symlink)
        return (void)fuse_reply_err(req, EINVAL);
    fuse_reply_readlink(req, n.linkTarget.c_str());
}

void OpOpendir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi) {
    // The kernel takes this as "open folders yourself, keeping their
    // listings" from now on.
    if (Fs(req).noOpendir())
        return (void)fuse_reply_err(req, ENOSYS);
    ino = Fs(req).FromKernel(ino);
    if (ino == kRootIno)
        return (void)fuse_reply_open(req, fi);
    InoRef ref;
    if (!Resolve(req, ino, ref))
        return (void)fuse_reply_err(req, ENOENT);
    if (ref.mount->image->node(ref.node).kind != NodeKind::Dir)
        return (void)fuse_reply_err(req, ENOTDIR);
    fi->cache_readdir = 1;
    fi->keep_cache = 1;
    fuse_reply_open(req, fi);
}

// One directory listing entry; false when the buffer is full.
struct DirBuf {
    fuse_req_t req;
    std::vector<char> buf;
    size_t used = 0;
    bool plus;

    bool Add(const char* name, const struct stat& st, off_t next, const fuse_entry_param* e) {
        size_t room = buf.size() - used;
        size_t need = plus ? fuse_add_direntry_plus(req, buf.data() + used, room, name, e, next)
                           : fuse_add_direntry(req, buf.data() + used, room, name, &st, next);
        if (need > room)
            return false;
        used += need;
        return true;
    }
};

void ReadRoot(fuse_req_t req, off_t off, DirBuf& out) {
    auto drives = Table(req).Drives();
    struct stat dirSt;
    FillRootAttr(dirSt);
    for (auto i = static_cast<size_t>(off); i < drives.size() + 2; ++i) {
        fuse_entry_param e{};
        const char* name = i == 0 ? "." : "..";
        char letter[2] = {0, 0};
        e.attr = dirSt;
        if (i >= 2) {
            auto m = Table(req).BySerial(drives[i - 2].second);
            if (!m)
                continue;
            letter[0] = m->letter;
            name = letter;
            if (out.plus) {
                // Listed with a short lifetime like lookups of drive folders.
                e.ino = MakeIno(m->serial, ImageFile::kRoot);
                e.attr_timeout = e.entry_timeout = kDriveTimeout;
            }
            FillAttr(*m, ImageFile::kRoot, e.attr);
        }
        if (!out.Add(name, e.attr, static_cast<off_t>(i + 1), &e))
            break;
    }
}

void ReadImageDir(const Mount& m, std::uint32_t dir, off_t off, DirBuf& out) {
    const Node& d = m.image->node(dir);
    for (auto i = static_cast<size_t>(off); i < d.childCount + 2u; ++i) {
        fuse_entry_param e{};
        const char* name = i == 0 ? "." : "..";
        std::uint32_t index = i == 0 ? dir : d.parent;
        if (i >= 2) {
            index = d.firstChild + static_cast<std::uint32_t>(i - 2);
            name = m.image->node(index).name.c_str();
            e.ino = MakeIno(m.serial, index);
            e.attr_timeout = e.entry_timeout = kImageTimeout;
        }
        FillAttr(m, index, e.attr);
        if (!out.Add(name, e.attr, static_cast<off_t>(i + 1), &e))
            break;
    }
}

void DoReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, bool plus) {
    ino = Fs(req).FromKernel(ino);
    DirBuf out{req, std::vector<char>(std::min<size_t>(size, 1 << 20)), 0, plus};
    if (off < 0)
        return (void)fuse_reply_err(req, EINVAL);
    if (ino == kRootIno) {
        ReadRoot(req, off, out);
    } else {
        InoRef ref;
        if (!Resolve(req, ino, ref))
            return (void)fuse_reply_err(req, ENOENT);
        if (ref.mount->image->node(ref.node).kind != NodeKind::Dir)
            return (void)fuse_reply_err(req, ENOTDIR);
        ReadImageDir(*ref.mount, ref.node, off, out);
    }
    fuse_reply_buf(req, out.buf.data(), out.used);
}

void OpReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info*) {
    DoReaddir(req, ino, size, off, false);
}

void OpReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, struct fuse_file_info*) {
    DoReaddir(req, ino, size, off, true);
}

using OpenFile = FuseFs::OpenFile;

void OpOpen(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi) {
    ino = Fs(req).FromKernel(ino);
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return (void)fuse_reply_err(req, EROFS);
    auto serial = static_cast<std::uint32_t>(ino >> 32);
    auto low = static_cast<std::uint32_t>(ino & 0xFFFFFFFFu);
    if (serial == 0 || low == 0)
        return (void)fuse_reply_err(req, EISDIR);
    auto m = Table(req).AcquireFile(serial);
    if (!m)
        return (void)fuse_reply_err(req, ENOENT);
    std::uint32_t index = low - 1;
    if (index >= m->image->nodeCount() || m->image->node(index).kind != NodeKind::File) {
        Table(req).ReleaseFile(*m);
        return (void)fuse_reply_err(req, index < m->image->nodeCount() ? EISDIR : ENOENT);
    }
    // The kernel keeps what it read of the file in its page cache, so a
    // re-read never reaches the driver; an image changed since the file's
    // last open has that cache dropped.
    fi->keep_cache = m->image->KeepCache(index, &Fs(req)) ? 1 : 0;
    fi->fh = reinterpret_cast<std::uint64_t>(Fs(req).AddOpenFile(std::move(m), index));
    fi->noflush = 1;
    if (fuse_reply_open(req, fi) != 0) {
        // The opener went away: the kernel will send no release.
        Fs(req).DropOpenFile(reinterpret_cast<OpenFile*>(fi->fh));
    }
}

void OpRelease(fuse_req_t req, fuse_ino_t, struct fuse_file_info* fi) {
    Fs(req).DropOpenFile(reinterpret_cast<OpenFile*>(fi->fh));
    fuse_reply_err(req, 0);
}

void OpRead(fuse_req_t req, fuse_ino_t, size_t size, off_t off, struct fuse_file_info* fi) {
    auto* of = reinterpret_cast<OpenFile*>(fi->fh);
    if (off < 0)
        return (void)fuse_reply_err(req, EINVAL);
    ReadReply reply;
    if (int err = of->mount->image->Read(of->node, static_cast<std::uint64_t>(off), size, reply))
        return (void)fuse_reply_err(req, err);
    if (reply.pipeFd < 0)
        return (void)fuse_reply_buf(req, reply.data, reply.size);
    fuse_bufvec bv = FUSE_BUFVEC_INIT(reply.size);
    bv.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_RETRY);
    bv.buf[0].fd = reply.pipeFd;
    fuse_reply_data(req, &bv, FUSE_BUF_SPLICE_MOVE);
    ImageFile::AfterReply();
}

void OpStatfs(fuse_req_t req, fuse_ino_t ino) {
    ino = Fs(req).FromKernel(ino);
    struct statvfs sv {};
    sv.f_bsize = 2048;
    sv.f_frsize = 2048;
    sv.f_namemax = 255;
    InoRef ref;
    if (ino != kRootIno && Resolve(req, ino, ref)) {
        sv.f_blocks = ref.mount->image->imageSize() / 2048;
        sv.f_files = ref.mount->image->nodeCount();
    }
    fuse_reply_statfs(req, &sv);
}

const fuse_lowlevel_ops kOps = [] {
    fuse_lowlevel_ops ops{};
    ops.init = OpInit;
    ops.lookup = OpLookup;
    ops.getattr = OpGetattr;
    ops.readlink = OpReadlink;
    ops.opendir = OpOpendir;
    ops.readdir = OpReaddir;
    ops.readdirplus = OpReaddirplus;
    ops.open = OpOpen;
    ops.read = OpRead;
    ops.release = OpRelease;
    ops.statfs = OpStatfs;
    return ops;
}();

} // namespace

FuseFs::FuseFs(DeviceTable& table, bool verbose, bool allowOther)
    : m_table(table), m_verbose(verbose), m_allowOther(allowOther) {
    g_verbose = verbose;
    fuse_set_log_func(LogToStderr);
}

FuseFs::~FuseFs() {
    Unmount();
}

SetupFault FuseFs::Mount(const std::string& mountpoint) {
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return {SetupError::NoFuseDevice, "/dev/fuse", errno};
    std::string opts = "ro,fsname=" + m_fsName +
                       ",subtype=spindle,default_permissions,max_read=" + std::to_string(kMaxRead);
    if (m_allowOther)
        opts += ",allow_other";
    std::vector<std::string> argv = {"spindle-driver", "-o", opts};
    if (m_verbose)
        argv.push_back("-d");
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(cargv.size()), cargv.data());
    m_session = fuse_session_new(&args, &kOps, sizeof(kOps), this);
    fuse_opt_free_args(&args); // what the parser added to them
    if (!m_session)
        return {SetupError::NoFuseSession, mountpoint, 0};
    if (fuse_session_mount(m_session, mountpoint.c_str()) != 0) {
        fuse_session_destroy(m_session);
        m_session = nullptr;
        return {SetupError::MountRefused, mountpoint, 0};
    }
    m_mounted = true;
    return {};
}

void FuseFs::ServeOneDrive(std::uint32_t serial, const std::string& fsName) {
    m_onlySerial = serial;
    m_fsName = fsName;
}

std::uint64_t FuseFs::FromKernel(std::uint64_t ino) const {
    return m_onlySerial && ino == kRootIno ? MakeIno(m_onlySerial, ImageFile::kRoot) : ino;
}

void FuseFs::CatchSignals() {
    if (m_session && fuse_set_signal_handlers(m_session) == 0)
        m_signals = true;
}

bool FuseFs::Exited() const {
    return m_session && fuse_session_exited(m_session);
}

int FuseFs::Loop() {
    fuse_loop_config* cfg = fuse_loop_cfg_create();
    // Read-ahead sends several requests at once; threads that stay around
    // spare a thread (and a cloned device fd and splice pipe) per request.
    fuse_loop_cfg_set_clone_fd(cfg, 1);
    // A one-drive session is mostly browsed by a file manager.
    const unsigned threads = m_onlySerial ? kOneDriveThreads : kMaxThreads;
    fuse_loop_cfg_set_max_threads(cfg, threads);
    fuse_loop_cfg_set_idle_threads(cfg, threads);
    int rc = fuse_session_loop_mt(m_session, cfg);
    fuse_loop_cfg_destroy(cfg);
    return rc;
}

void FuseFs::Unmount() {
    if (!m_session)
        return;
    if (m_signals)
        fuse_remove_signal_handlers(m_session);
    m_signals = false;
    if (m_mounted)
        fuse_session_unmount(m_session);
    m_mounted = false;
    fuse_session_destroy(m_session);
    m_session = nullptr;
    // No request comes any more: releases that never came are made here.
    std::set<OpenFile*> left;
    {
        std::lock_guard lock(m_filesMutex);
        left.swap(m_files);
    }
    for (OpenFile* file : left) {
        m_table.ReleaseFile(*file->mount);
        delete file;
    }
}

FuseFs::OpenFile* FuseFs::AddOpenFile(std::shared_ptr<driver::Mount> mount, std::uint32_t node) {
    auto* file = new OpenFile{std::move(mount), node};
    std::lock_guard lock(m_filesMutex);
    m_files.insert(file);
    return file;
}

void FuseFs::DropOpenFile(OpenFile* file) {
    {
        std::lock_guard lock(m_filesMutex);
        m_files.erase(file);
    }
    m_table.ReleaseFile(*file->mount);
    delete file;
}

void FuseFs::DriveChanged(char letter) {
    if (!m_session || !m_mounted || m_onlySerial)
        return;
    const char name[2] = {letter, 0};
    fuse_lowlevel_notify_inval_entry(m_session, kRootIno, name, 1);
    // The drives folder's listing, which the kernel may keep.
    fuse_lowlevel_notify_inval_inode(m_session, kRootIno, 0, 0);
}

} // namespace driver
