// The media folder: where spindle-driver shows each mounted drive to the
// desktop, as a read-only mount of its own at "<media folder>/LABEL (K:)".
// File managers built on GIO (GNOME Files, the GTK file chooser) list the
// user mounts that lie in the home folder or the media folders of the system
// (see ShownByDesktop), under the mount point's last name.
#pragma once

#include "driver/SetupFault.h"

#include <string>
#include <vector>

namespace driver {

// "LABEL (K:)": the label without its padding blanks, '/', control
// characters and bytes that are not UTF-8 replaced by '_' (a leading '.'
// too: a dot-folder is hidden);
// with no label, "CD Drive (K:)" or "Drive (K:)" for a disk device.
std::string DriveFolderName(const std::string& label, char letter, bool cd);

// The media folder for drives.conf's "media = ..." value `setting`: none
// (empty) for "off", "~/x" in `home`, "/x" as it stands; with no setting
// /run/media/<user> when `runMediaUsable` (it exists and the user may create
// folders there), else <home>/Spindle, else none.
std::string ChooseMediaFolder(const std::string& setting, const std::string& user,
                              const std::string& home, bool runMediaUsable);

// Whether file managers list a user mount at `path` (an absolute path
// without "." or ".." parts): in the home folder, in /run/media/<user>/, in
// /media/<user>/ or right in /media/, and never inside a dot-folder.
bool ShownByDesktop(const std::string& path, const std::string& user, const std::string& home);

// The media folder, held open while the driver runs: drive folders are made
// and removed relative to it, so a link planted in its path later is never
// followed.
class MediaFolder {
public:
    MediaFolder() = default;
    ~MediaFolder();
    MediaFolder(const MediaFolder&) = delete;
    MediaFolder& operator=(const MediaFolder&) = delete;

    // Creates the folder (its last part, 0700) when missing and opens it.
    // Refused (a MediaFolder* fault for the path): a link, not a folder, or
    // a folder of another user than this one or root.
    SetupFault Open(const std::string& path);
    bool open() const { return m_fd >= 0; }
    // The folder's path with links resolved, as the mount table shows it.
    const std::string& path() const { return m_path; }

    // Makes the drive folder `name` (0700). A folder of that name already
    // there is taken when it is this user's, empty and no mount point; false
    // otherwise.
    bool MakeDriveFolder(const std::string& name);
    // Removes the drive folder when it is empty and not a mount point.
    void RemoveDriveFolder(const std::string& name);

    // Detaches the drive mounts left in the folder by a driver that was
    // killed: mounts of type `fsType` directly inside it whose file system
    // no longer answers; their folders go too. Live mounts of another
    // driver (another runtime folder of the same user) stay. The count
    // detached; the mount points that could not be detached are added to
    // `stuck`.
    int DetachStale(const std::string& fsType, std::vector<std::string>* stuck = nullptr);

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace driver
