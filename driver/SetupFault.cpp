#include "driver/SetupFault.h"

#include <cstring>

namespace driver {

std::string Describe(const SetupFault& f) {
    const std::string why = std::strerror(f.osError);
    switch (f.error) {
    case SetupError::None:
        return {};
    case SetupError::MediaFolderCreate:
        return "cannot create the media folder " + f.path + ": " + why;
    case SetupError::MediaFolderOpen:
        return "cannot open the media folder " + f.path + ": " + why;
    case SetupError::MediaFolderNotOwn:
        return "the media folder " + f.path + " is not this user's own";
    case SetupError::NoFuseDevice:
        return "FUSE is not available (/dev/fuse: " + why + ")";
    case SetupError::NoFuseSession:
        return "FUSE is not available (cannot create a session)";
    case SetupError::MountRefused:
        return "FUSE is not available (mounting " + f.path + " was refused)";
    }
    return {};
}

} // namespace driver
