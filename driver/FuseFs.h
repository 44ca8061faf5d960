// The read-only FUSE file system under <runtime>/drives: one folder per drive
// letter whose device holds an image, and under it the image's tree. File
// data is spliced from the image into a pipe and from there to the kernel, so
// it never passes through this process.
//
// Inode numbers: 1 is the drives folder; node i of the mount with serial s is
// (s << 32) | (i + 1). Serials are not reused, so an inode the kernel still
// holds after its drive closed finds nothing (ENOENT) instead of another
// image's file.
//
// A second kind of session serves one drive alone (ServeOneDrive): its root
// is the image's root, for the drive's own mount that the desktop shows.
//
// What the kernel reads of a file stays in its page cache (re-reads never
// reach the driver) until the image changes; first reads are spliced from
// the image's page cache (see ImageFile::Read).
#pragma once

#include "driver/DeviceTable.h"
#include "driver/SetupFault.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>

struct fuse_session;

namespace driver {

class FuseFs : public DeviceTable::Observer {
public:
    // `allowOther`: other users may enter the drive folders too (only when
    // asked for: the images are this user's).
    FuseFs(DeviceTable& table, bool verbose, bool allowOther = false);
    ~FuseFs() override;
    FuseFs(const FuseFs&) = delete;
    FuseFs& operator=(const FuseFs&) = delete;

    // Before Mount: serve only the image of mount `serial` (its root as the
    // root), named `fsName` in the mount table.
    void ServeOneDrive(std::uint32_t serial, const std::string& fsName);
    // The kernel's inode number as the drives folder numbers it: the root of
    // a one-drive session is the root of its image.
    std::uint64_t FromKernel(std::uint64_t ino) const;

    // Creates the session and mounts it; a NoFuse* or MountRefused fault
    // (for the mount point) when it cannot.
    SetupFault Mount(const std::string& mountpoint);
    // Installs SIGTERM/SIGINT/SIGHUP handlers that end Loop().
    void CatchSignals();
    // Serves requests on several threads until unmounted or signalled.
    int Loop();
    // Whether Loop() was told to end (a signal, or the mount went away).
    bool Exited() const;
    // Unmounts (lazily if busy) and frees the session.
    void Unmount();

    void DriveChanged(char letter) override;

    DeviceTable& table() { return m_table; }

    // Whether the kernel opens folders without asking (and keeps their
    // listings).
    bool noOpendir() const { return m_noOpendir; }
    void SetNoOpendir(bool on) { m_noOpendir = on; }

    // An open file of the session. Files the kernel never released (still
    // open, or their release still on its way, when the session ended) are
    // let go with the session, so their drive counts them closed.
    struct OpenFile;
    OpenFile* AddOpenFile(std::shared_ptr<driver::Mount> mount, std::uint32_t node);
    void DropOpenFile(OpenFile* file);

private:
    DeviceTable& m_table;
    bool m_verbose;
    bool m_allowOther;
    std::uint32_t m_onlySerial = 0; // 0: every drive
    std::string m_fsName = "spindle";
    fuse_session* m_session = nullptr;
    bool m_mounted = false;
    bool m_signals = false;
    std::atomic<bool> m_noOpendir{false};
    std::mutex m_filesMutex;
    std::set<OpenFile*> m_files;
};

} // namespace driver
