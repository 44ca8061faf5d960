// The system's table of mounts as this process sees it
// (/proc/self/mountinfo), and taking a mount away.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace driver {

struct MountEntry {
    std::string point; // unescaped
    std::string type;  // "fuse.spindle", "ext4", ...
    dev_t dev = 0;     // of the files in it
};

// The mounts listed in mountinfo text (lines that cannot be read are passed
// over).
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// The mounts of this process's namespace now.
std::vector<MountEntry> CurrentMounts();

// True when `path` is a mount point.
bool IsMountPoint(const std::string& path);

// Detaches whatever is mounted at `path` (lazily, never through a link in
// its last part); true when nothing is mounted there afterwards. As root the
// system call does it; otherwise the FUSE helper, which lets a user unmount
// the user's own FUSE mounts.
bool DetachStaleMount(const std::string& path);

// Whether a process this one may look at has its working folder, its root
// folder or an open descriptor on a file for which `inside(dev, ino)` holds:
// use of a mount as `fuser -m` sees it. Only what the kernel holds of each
// file is looked at: no request reaches the file systems.
bool ProcessesUse(const std::function<bool(dev_t dev, std::uint64_t ino)>& inside);

} // namespace driver
