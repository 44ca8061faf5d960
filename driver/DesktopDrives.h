// Each loaded drive shown to the desktop: a read-only mount of its own, in
// the media folder under "LABEL (K:)", served by a FUSE session of its own
// on a thread of its own. The mount comes when the drive's image is loaded
// and goes when it is taken away. Unmounted from outside (a file manager's
// eject runs umount), the session ends and the drive is dismounted as a
// client dismounts it: the image closed, the letter freed. While a file of
// the drive is open that is refused, and the mount comes back.
#pragma once

#include "driver/DeviceTable.h"
#include "driver/MediaFolder.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace driver {

class DesktopDrives : public DeviceTable::Observer {
public:
    // Type of the drives' mounts in the mount table.
    static constexpr const char* kFsType = "fuse.spindle";

    // Told of drive changes in place of `next`, which it tells first.
    DesktopDrives(DeviceTable& table, DeviceTable::Observer* next, MediaFolder& media, bool verbose,
                  bool allowOther);
    ~DesktopDrives() override;
    DesktopDrives(const DesktopDrives&) = delete;
    DesktopDrives& operator=(const DesktopDrives&) = delete;

    void DriveChanged(char letter) override;

    // Keeps, in `folder` (the runtime folder's "desktop"), a link named by
    // each shown drive's letter to its mount, so that a program that mounts
    // an image can open the drive where the file manager lists it. Links a
    // killed driver left there are removed.
    void KeepLinksIn(const std::string& folder);

    // Where the drive of mount `serial` is shown; empty when it is not.
    std::string MountPointOf(std::uint32_t serial);

    // Unmounts every drive's mount and waits up to `wait` for their sessions
    // to end; false when some still run (a folder of one is still in use).
    bool StopAll(std::chrono::milliseconds wait);

private:
    struct Shown;
    void ShowLocked(const std::shared_ptr<Mount>& m);
    void HideLocked(const std::shared_ptr<Shown>& s);
    // On the session's thread, once its loop has ended.
    void Ended(std::shared_ptr<Shown> s);
    // The drive's mount was unmounted from outside: dismounts the drive.
    void DismountFromDesktop(const Shown& s);

    void Link(char letter, const std::string& target);
    void Unlink(char letter);

    DeviceTable& m_table;
    DeviceTable::Observer* m_next;
    MediaFolder& m_media;
    bool m_verbose;
    bool m_allowOther;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::map<char, std::shared_ptr<Shown>> m_shown;
    int m_running = 0; // sessions whose thread has not finished
    bool m_stopping = false;
    int m_linkFd = -1; // the links' folder
};

// Opens the media folder that drives.conf names (by default
// /run/media/<user> or ~/Spindle) and detaches the drive mounts that a
// killed driver left there. Says on stderr why drives are not shown, or
// that file managers do not list the folder. False when no folder is used.
bool OpenMediaFolder(MediaFolder& media);

} // namespace driver
