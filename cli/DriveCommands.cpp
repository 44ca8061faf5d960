// The drive subcommands of spindle-cli, on the same drive manager, drive
// table and volume label code as the mount and unmount pages.
#include "cli/Commands.h"
#include "cli/Report.h"

#include "port/DosDevices.h"
#include "port/DriveFiles.h"
#include "port/DriveInfo.h"
#include "port/Errors.h"
#include "port/FileDiskRecords.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/DiscImage.h"
#include "vdrive/DriverStart.h"
#include "vdrive/VirtualDrive.h"
#include "vdrive/VolumeLabel.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <unistd.h>

#include <sys/stat.h>

namespace cli {

namespace {

// "WHAT: what the error means (error N)".
int FailOn(const char* command, const std::string& what, port::ErrorCode code) {
    return Fail(command, what + ": " + port::DescribeError(code), code);
}

// The UTF-16 form of a host path, or nothing after saying that the path is
// not UTF-8 text: its converted form would name another file.
std::optional<std::u16string> PathArgument(const char* command, const std::string& path) {
    std::u16string wide = port::ToUtf16(path);
    if (port::ToUtf8(wide) == path)
        return wide;
    Fail(command, path + ": its name is not UTF-8 text", port::ERROR_INVALID_NAME);
    return std::nullopt;
}

std::string DriveFolder(char16_t letter) {
    return port::RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter));
}

// The drive's kind as a Linux user names it: a folder target is a
// "folder", another fixed drive a "disk".
const char* DriveTypeName(std::uint32_t type, const std::string& target) {
    switch (type) {
    case port::DRIVE_REMOVABLE:
        return "removable";
    case port::DRIVE_FIXED:
        return std::filesystem::is_directory(target) ? "folder" : "disk";
    case port::DRIVE_REMOTE:
        return "remote";
    case port::DRIVE_CDROM:
        return "cdrom";
    case port::DRIVE_RAMDISK:
        return "ramdisk";
    case port::DRIVE_NO_ROOT_DIR:
        return "no-root";
    default:
        return "unknown";
    }
}

// "drive K": the subject of a sentence that goes on with ": reason", where
// "K:" would read "K::".
std::string DriveName(char16_t letter) {
    return "drive " + std::string(1, static_cast<char>(letter));
}

// A target as the user reads it: a device of spindle-driver as
// "spindle-driver:cd0" or "spindle-driver:disk3" (the table keeps the
// device's own name), any other target as it stands.
std::string TargetShown(const std::string& target) {
    for (const auto& [prefix, shown] :
         {std::pair{vdrive::kCdDevicePrefix, "spindle-driver:cd"},
          std::pair{vdrive::kDiskDevicePrefix, "spindle-driver:disk"}}) {
        const std::string name = port::ToUtf8(prefix);
        if (target.starts_with(name))
            return shown + target.substr(name.size());
    }
    return target;
}

// The drive table and the driver live in the runtime folder: one that is not
// a private folder of this user is refused with a plain word, not an error
// number.
bool RuntimeUsable(const char* command) {
    std::string dir;
    if (port::PrivateRuntimeDir(dir))
        return true;
    Say(command, port::RuntimeDirProblem(dir, errno));
    return false;
}

} // namespace

namespace {
// A mount that found no driver and could not start one says so plainly.
int MountFailed(const std::string& what, port::ErrorCode error, const vdrive::StartFault& fault) {
    if (error == port::ERROR_PATH_NOT_FOUND && !fault.ok())
        return Fail("mount",
                    "no spindle-driver runs for " + port::RuntimeDir() +
                        " and none could be started: " + vdrive::Describe(fault),
                    error);
    if (error == port::ERROR_PATH_NOT_FOUND && !port::DriverAnswers())
        return Fail("mount", NoDriverSentence(), error);
    return FailOn("mount", what, error);
}
} // namespace

namespace {
// An image description (cue sheet, CloneCD, Nero, Alcohol) that cannot be
// used is refused before the driver is asked, with the file, line and field
// at fault; a path that is no regular file is left to the driver as before.
bool DiscUsable(const std::string& path) {
    struct stat st {};
    vdrive::Disc disc;
    vdrive::DiscFault fault;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        vdrive::ReadDisc(path, disc, fault))
        return true;
    std::string where = port::EscapeControls(fault.file);
    if (fault.line > 0)
        where += ", line " + std::to_string(fault.line);
    if (!fault.field.empty())
        where += " (" + port::EscapeControls(fault.field) + ")";
    Fail("mount", where + ": " + port::EscapeControls(fault.detail), fault.code);
    return false;
}
} // namespace

int Mount(const Args& args) {
    if (args.empty() || args.size() > 2)
        return Misuse("mount");
    // A wrong letter is a usage error, said before anything is touched.
    char16_t letter = args.size() == 2 ? LetterArgument("mount", args[1]) : 0;
    if (args.size() == 2 && !letter)
        return kExitUsage;
    if (!RuntimeUsable("mount"))
        return 1;
    auto path = PathArgument("mount", args[0]);
    if (!path)
        return 1;
    if (args[0].find_first_of("\r\n") != std::string::npos)
        return Fail("mount",
                    port::EscapeControls(args[0]) +
                        ": a path with a line break cannot be mounted (the lists of "
                        "mounted drives keep one path a line)",
                    port::ERROR_INVALID_NAME);
    // A file that cannot be read is said at once: no driver is started for it.
    if (access(args[0].c_str(), R_OK) != 0)
        return FailOn("mount", args[0], port::ErrorFromErrno(errno));
    if (!DiscUsable(args[0]))
        return kExitFailure;
    vdrive::MountRequest request;
    request.imagePath = *path;
    port::ErrorCode error = 0;
    // With no driver answering, one is started for this runtime folder.
    vdrive::StartFault fault;
    if (letter) {
        if (!vdrive::MountStartingDriver(letter, request, error, fault))
            return MountFailed(args[0] + " on " + DriveName(letter), error, fault);
    } else {
        // The first free letter, as the mount page offers them: C to Z. One
        // that another program takes meanwhile is passed over for the next.
        for (char16_t c = u'C'; c <= u'Z'; ++c) {
            if (vdrive::IsDriveLetterUsed(c))
                continue;
            letter = c;
            if (vdrive::MountStartingDriver(letter, request, error, fault))
                break;
            if (error != port::ERROR_BUSY)
                return MountFailed(args[0] + " on " + DriveName(letter), error, fault);
            letter = 0;
        }
        if (!letter)
            return Say("mount", "no drive letter is free");
    }
    std::printf("%s\t%s\n", LetterText(letter).c_str(), DriveFolder(letter).c_str());
    return 0;
}

int Dismount(const Args& args) {
    if (args.size() != 1)
        return Misuse("dismount");
    char16_t letter = LetterArgument("dismount", args[0]);
    if (!letter)
        return kExitUsage;
    if (!RuntimeUsable("dismount"))
        return 1;
    vdrive::DismountResult r = vdrive::DismountDrive(letter);
    if (r.ok)
        return 0;
    if (r.driveInUse)
        return Fail(
            "dismount",
            LetterText(letter) +
                " is in use; close the files and leave the folders open on it, then try again",
            r.error);
    // The drive path's errors say more in drive words.
    if (r.error == port::ERROR_FILE_NOT_FOUND || r.error == port::ERROR_INVALID_FUNCTION)
        return Fail("dismount",
                    LetterText(letter) + (r.error == port::ERROR_FILE_NOT_FOUND
                                              ? " is not a drive"
                                              : " is not a virtual drive"),
                    r.error);
    return FailOn("dismount", DriveName(letter), r.error);
}

int List(const Args& args) {
    bool json = args.size() == 1 && args[0] == "--json";
    if (args.size() > (json ? 1u : 0u))
        return Misuse("list", args.empty() ? "" : "unknown argument " + args.back());
    if (!RuntimeUsable("list"))
        return 1;
    if (!port::DriverAnswers())
        Say("list", NoDriverSentence());
    // Every letter: mount takes A: and B: too.
    int status = 0;
    std::string items;
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        port::ErrorCode error = port::ERROR_SUCCESS;
        auto info = vdrive::QueryMountedImage(c, error);
        if (!info) {
            // A letter of the driver's that no driver answers for is not
            // passed over in silence.
            if (error != port::ERROR_FILE_NOT_FOUND && error != port::ERROR_NOT_READY)
                status = Fail("list", LetterText(c) + " the driver could not be reached", error);
            continue;
        }
        std::u16string image = vdrive::FromNtPath(info->imageName);
        std::string path = port::ToUtf8(image);
        // The label as the drive shows it: the image file itself is held by
        // the driver and cannot be opened exclusively.
        const char16_t root[] = {c, u':', u'\\', 0};
        char16_t name[256] = {};
        port::GetVolumeInformationW(root, name, 256, nullptr, nullptr, nullptr, nullptr, 0);
        std::string label = TrimPadding(port::ToUtf8(name));
        const char* access = info->readOnly ? "read-only" : "read-write";
        auto size = static_cast<unsigned long long>(info->fileSize);
        if (!json) {
            // One drive a line, one field a column: control characters of the
            // path or label are shown escaped, never passed to the terminal.
            std::printf("%s\t%s\t%s\t%llu\t%s\n", LetterText(c).c_str(),
                        port::EscapeControls(path).c_str(), access, size,
                        port::EscapeControls(label).c_str());
            continue;
        }
        items += items.empty() ? "\n" : ",\n";
        items += "  {\"letter\": " + JsonString(LetterText(c)) +
                 ", \"image\": " + JsonString(path) + ", \"access\": " + JsonString(access) +
                 ", \"size\": " + std::to_string(size) + ", \"label\": " + JsonString(label) +
                 ", \"folder\": " + JsonString(DriveFolder(c)) + "}";
    }
    if (json)
        std::printf("[%s\n]\n", items.c_str());
    return status;
}

int Drives(const Args& args) {
    if (!args.empty())
        return Misuse("drives");
    if (!RuntimeUsable("drives"))
        return 1;
    for (const std::string& name : port::DosDeviceNames()) {
        auto targets = port::DosDeviceTargets(name);
        if (!targets)
            continue;
        const std::string& target = targets->front();
        std::u16string root = port::ToUtf16(name) + u"\\";
        const char* type = port::DriveLetterOfRoot(root.c_str())
                               ? DriveTypeName(port::GetDriveTypeW(root.c_str()), target)
                               : "-";
        std::printf("%s\t%s\t%s\n", name.c_str(), type,
                    port::EscapeControls(TargetShown(target)).c_str());
    }
    return 0;
}

int Label(const Args& args) {
    if (args.empty() || args.size() > 2)
        return Misuse("label");
    const std::string& image = args[0];
    auto wide = PathArgument("label", image);
    if (!wide)
        return 1;
    const std::u16string& path = *wide;
    port::ErrorCode error = 0;
    if (args.size() == 1) {
        auto label = vdrive::ReadVolumeLabel(path, error);
        if (!label)
            return FailOn("label", image, error);
        std::printf("%s\n", port::EscapeControls(TrimPadding(port::ToUtf8(*label))).c_str());
        return 0;
    }
    std::u16string label = port::ToUtf16(args[1]);
    if (!vdrive::WriteVolumeLabelUtf8(path, args[1], error))
        return error == port::ERROR_INVALID_DATA
                   ? Fail("label", "the new label is not UTF-8 text", error)
                   : FailOn("label", image, error);
    std::u16string stored = vdrive::ReadVolumeLabel(path);
    if (TrimPadding(port::ToUtf8(stored)) != TrimPadding(args[1]))
        Say("label", "the label was stored as \"" +
                         port::EscapeControls(TrimPadding(port::ToUtf8(stored))) + "\"");
    return 0;
}

} // namespace cli
