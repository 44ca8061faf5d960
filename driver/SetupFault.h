// Why the driver could not set up what it serves through: its FUSE mounts
// and the media folder that shows drives to the desktop. A number plus the
// path it concerns and the system's errno where one was given; Describe is
// the one place their text is made.
#pragma once

#include <string>

namespace driver {

enum class SetupError {
    None,
    MediaFolderCreate, // the media folder cannot be made (errno)
    MediaFolderOpen,   // it cannot be opened: a link, not a folder (errno)
    MediaFolderNotOwn, // another user's, or others may write to it
    NoFuseDevice,      // /dev/fuse cannot be used (errno)
    NoFuseSession,     // libfuse made no session
    MountRefused,      // the kernel refused the mount at the path
};

struct SetupFault {
    SetupError error = SetupError::None;
    std::string path;
    int osError = 0;
    bool ok() const { return error == SetupError::None; }
};

// The fault in plain English, for the driver's complaint on stderr.
std::string Describe(const SetupFault& fault);

} // namespace driver
