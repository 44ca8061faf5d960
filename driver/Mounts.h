// The system's table of mounts as this process sees it
// (/proc/self/mountinfo), and taking a mount away.
#pragma once

#include <string>
#include <vector>

namespace driver {

struct MountEntry {
    std::string point; // unescaped
    std::string type;  // "fuse.spindle", "ext4", ...
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

} // namespace driver
