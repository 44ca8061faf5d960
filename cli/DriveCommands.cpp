// The drive subcommands of spindle-cli, on the same drive manager, drive
// table and volume label code as the mount and unmount pages.
#include "cli/Commands.h"

#include "port/DosDevices.h"
#include "port/DriveInfo.h"
#include "port/Errors.h"
#include "port/Paths.h"
#include "port/Utf.h"
#include "vdrive/VirtualDrive.h"
#include "vdrive/VolumeLabel.h"

#include <cerrno>
#include <cstdio>
#include <optional>

namespace cli {

namespace {

int Fail(const char* command, const std::string& what, port::ErrorCode code) {
    std::fprintf(stderr, "spindle-cli %s: error %u: %s (%s)\n", command,
                 static_cast<unsigned>(code), port::DescribeError(code), what.c_str());
    return 1;
}

int Usage(const char* usage) {
    std::fprintf(stderr, "usage: spindle-cli %s\n", usage);
    return 2;
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

// "K", "k", "K:" or "K:\" -> 'K'; 0 when it is not a drive letter.
char16_t ParseLetter(const std::string& arg) {
    if (arg.empty() || arg.size() > 3 || (arg.size() >= 2 && arg[1] != ':') ||
        (arg.size() == 3 && arg[2] != '\\' && arg[2] != '/'))
        return 0;
    char c = arg[0];
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c) : 0;
}

// A drive letter argument, or 0 after saying what is wrong with it.
char16_t LetterArgument(const char* command, const std::string& arg) {
    char16_t letter = ParseLetter(arg);
    if (!letter)
        std::fprintf(stderr, "spindle-cli %s: '%s' is not a drive letter (A to Z)\n", command,
                     arg.c_str());
    return letter;
}

std::string LetterText(char16_t letter) { return std::string(1, static_cast<char>(letter)) + ":"; }

std::string DriveFolder(char16_t letter) {
    return port::RuntimeDir() + "/drives/" + std::string(1, static_cast<char>(letter));
}

const char* DriveTypeName(std::uint32_t type) {
    switch (type) {
    case port::DRIVE_REMOVABLE: return "removable";
    case port::DRIVE_FIXED: return "fixed";
    case port::DRIVE_REMOTE: return "remote";
    case port::DRIVE_CDROM: return "cdrom";
    case port::DRIVE_RAMDISK: return "ramdisk";
    case port::DRIVE_NO_ROOT_DIR: return "no-root";
    default: return "unknown";
    }
}

// The drive table and the driver live in the runtime folder: one that is not
// a private folder of this user is refused with a plain word, not an error
// number.
bool RuntimeUsable(const char* command) {
    std::string dir;
    if (port::PrivateRuntimeDir(dir))
        return true;
    std::fprintf(stderr, "spindle-cli %s: %s\n", command,
                 port::RuntimeDirProblem(dir, errno).c_str());
    return false;
}

} // namespace

int Mount(const Args& args) {
    const char* usage = "mount IMAGE [LETTER]";
    if (args.empty() || args.size() > 2)
        return Usage(usage);
    if (!RuntimeUsable("mount"))
        return 1;
    auto path = PathArgument("mount", args[0]);
    if (!path)
        return 1;
    vdrive::MountRequest request;
    request.imagePath = *path;
    port::ErrorCode error = 0;
    char16_t letter = 0;
    if (args.size() == 2) {
        letter = LetterArgument("mount", args[1]);
        if (!letter)
            return Usage(usage);
        if (!vdrive::MountImage(letter, request, error))
            return Fail("mount", args[0] + " on " + LetterText(letter), error);
    } else {
        // The first free letter, as the mount page offers them: C to Z. One
        // that another program takes meanwhile is passed over for the next.
        for (char16_t c = u'C'; c <= u'Z'; ++c) {
            if (vdrive::IsDriveLetterUsed(c))
                continue;
            letter = c;
            if (vdrive::MountImage(letter, request, error))
                break;
            if (error != port::ERROR_BUSY)
                return Fail("mount", args[0] + " on " + LetterText(letter), error);
            letter = 0;
        }
        if (!letter) {
            std::fprintf(stderr, "spindle-cli mount: no free drive letter\n");
            return 1;
        }
    }
    std::printf("%s\t%s\n", LetterText(letter).c_str(), DriveFolder(letter).c_str());
    return 0;
}

int Dismount(const Args& args) {
    const char* usage = "dismount LETTER";
    char16_t letter = args.size() == 1 ? LetterArgument("dismount", args[0]) : 0;
    if (!letter)
        return Usage(usage);
    if (!RuntimeUsable("dismount"))
        return 1;
    vdrive::DismountResult r = vdrive::DismountDrive(letter);
    if (r.ok)
        return 0;
    if (r.driveInUse) {
        std::fprintf(stderr,
                     "spindle-cli dismount: %s is in use (error %u): close the files open on "
                     "it and try again\n",
                     LetterText(letter).c_str(), static_cast<unsigned>(r.error));
        return 1;
    }
    // The drive path's errors say more in drive words.
    if (r.error == port::ERROR_FILE_NOT_FOUND || r.error == port::ERROR_INVALID_FUNCTION) {
        std::fprintf(stderr, "spindle-cli dismount: error %u: %s %s\n",
                     static_cast<unsigned>(r.error), LetterText(letter).c_str(),
                     r.error == port::ERROR_FILE_NOT_FOUND ? "is not a drive"
                                                           : "is not a virtual drive");
        return 1;
    }
    return Fail("dismount", LetterText(letter), r.error);
}

int List(const Args& args) {
    if (!args.empty())
        return Usage("list");
    if (!RuntimeUsable("list"))
        return 1;
    // Every letter: mount takes A: and B: too.
    int status = 0;
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        port::ErrorCode error = port::ERROR_SUCCESS;
        auto info = vdrive::QueryMountedImage(c, error);
        if (!info) {
            // A letter of the driver's that no driver answers for is not
            // passed over in silence.
            if (error != port::ERROR_FILE_NOT_FOUND && error != port::ERROR_NOT_READY) {
                std::fprintf(stderr,
                             "spindle-cli list: %s the driver could not be reached "
                             "(error %u: %s)\n",
                             LetterText(c).c_str(), static_cast<unsigned>(error),
                             port::DescribeError(error));
                status = 1;
            }
            continue;
        }
        std::string path = port::ToUtf8(vdrive::FromNtPath(info->imageName));
        std::printf("%s\t%s\t%s\t%llu\n", LetterText(c).c_str(), path.c_str(),
                    info->readOnly ? "read-only" : "read-write",
                    static_cast<unsigned long long>(info->fileSize));
    }
    return status;
}

int Drives(const Args& args) {
    if (!args.empty())
        return Usage("drives");
    if (!RuntimeUsable("drives"))
        return 1;
    for (const std::string& name : port::DosDeviceNames()) {
        auto targets = port::DosDeviceTargets(name);
        if (!targets)
            continue;
        std::u16string root = port::ToUtf16(name) + u"\\";
        const char* type = port::DriveLetterOfRoot(root.c_str())
                               ? DriveTypeName(port::GetDriveTypeW(root.c_str()))
                               : "-";
        std::printf("%s\t%s\t%s\n", name.c_str(), type, targets->front().c_str());
    }
    return 0;
}

int Label(const Args& args) {
    if (args.empty() || args.size() > 2)
        return Usage("label IMAGE [NEW]");
    const std::string& image = args[0];
    auto wide = PathArgument("label", image);
    if (!wide)
        return 1;
    const std::u16string& path = *wide;
    port::ErrorCode error = 0;
    if (args.size() == 1) {
        auto label = vdrive::ReadVolumeLabel(path, error);
        if (!label)
            return Fail("label", image, error);
        std::printf("%s\n", port::ToUtf8(*label).c_str());
        return 0;
    }
    std::u16string label = port::ToUtf16(args[1]);
    if (!vdrive::WriteVolumeLabelUtf8(path, args[1], error))
        return Fail("label", error == port::ERROR_INVALID_DATA ? "the new label is not UTF-8 text" : image,
                    error);
    std::u16string stored = vdrive::ReadVolumeLabel(path);
    if (stored != label)
        std::fprintf(stderr, "spindle-cli label: the label was stored as \"%s\"\n",
                     port::ToUtf8(stored).c_str());
    return 0;
}

} // namespace cli
