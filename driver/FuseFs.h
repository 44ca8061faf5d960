// The read-only FUSE file system under <runtime>/drives: one folder per drive
// letter whose device holds an image, and under it the image's tree. File
// data is handed to the kernel as (image fd, offset) buffers, so with splice
// it never passes through this process.
//
// Inode numbers: 1 is the drives folder; node i of the mount with serial s is
// (s << 32) | (i + 1). Serials are not reused, so an inode the kernel still
// holds after its drive closed finds nothing (ENOENT) instead of another
// image's file.
#pragma once

#include "driver/DeviceTable.h"

#include <string>

struct fuse_session;

namespace driver {

class FuseFs : public DeviceTable::Observer {
public:
    FuseFs(DeviceTable& table, bool verbose);
    ~FuseFs() override;
    FuseFs(const FuseFs&) = delete;
    FuseFs& operator=(const FuseFs&) = delete;

    // Creates the session and mounts it; false with a message on failure.
    bool Mount(const std::string& mountpoint, std::string& error);
    // Installs SIGTERM/SIGINT/SIGHUP handlers that end Loop().
    void CatchSignals();
    // Serves requests on several threads until unmounted or signalled.
    int Loop();
    // Unmounts (lazily if busy) and frees the session.
    void Unmount();

    void DriveChanged(char letter) override;

    DeviceTable& table() { return m_table; }

private:
    DeviceTable& m_table;
    bool m_verbose;
    fuse_session* m_session = nullptr;
    bool m_mounted = false;
    bool m_signals = false;
};

} // namespace driver
