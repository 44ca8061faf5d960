// Host files and folders on their way into an image: what a source path is,
// the walk through a folder with everything in it, and the name helpers. The
// files page and spindle-cli build-iso share them; neither opens a folder
// itself.
//
// Every entry but "." and ".." is met, hidden ones included. What an image
// cannot hold is passed over with a reason instead of failing the build
// later: a link that leads nowhere, a link loop, a folder that contains
// itself through a link, a device, pipe or socket, a kernel file whose size
// reads 0 although it has content (/proc, /sys), a name that is not UTF-8.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include <sys/types.h>

namespace engine {

enum class SourceKind { Folder, File, Skipped };

enum class SkipReason {
    None,
    DanglingLink,
    LinkLoop,
    FolderLoop,
    Special,
    KernelFile,
    NotUtf8,
    Unreadable
};

struct SourceEntry {
    std::string path; // host path, UTF-8
    std::string name; // its last part
    SourceKind kind = SourceKind::Skipped;
    SkipReason why = SkipReason::None;
    int err = 0;            // errno, for Unreadable
    std::uint64_t size = 0; // a file's length in bytes
    dev_t dev = 0;
    ino_t ino = 0;
};

// Looks at one host path (following links).
SourceEntry InspectSource(const std::string& path);

// Why an entry was passed over, as a short phrase ("the link leads nowhere").
std::string DescribeSkip(const SourceEntry& entry);

// Receives the walk of a folder in order: each folder before its contents.
// Returning false from any call ends the whole walk at once.
class SourceWalkHandler {
public:
    virtual ~SourceWalkHandler() = default;
    virtual bool EnterFolder(const SourceEntry& folder) = 0;
    virtual bool LeaveFolder(const SourceEntry& folder) = 0;
    virtual bool AddFile(const SourceEntry& file) = 0;
    virtual bool Skip(const SourceEntry& entry) = 0;
    // A folder whose entries cannot be listed stays empty.
    virtual bool ListFailed(const SourceEntry& folder, int err) = 0;
};

// Walks `source` (a folder with everything in it, or one file). Entries come
// in the order the file system returns them, or sorted by name when asked.
// Returns false when the handler ended the walk.
bool WalkSource(const std::string& source, SourceWalkHandler& handler, bool sortNames = false);

// The last part of a host path ("/a/b.txt" gives "b.txt"; "/a/b/" gives "b").
std::string HostBaseName(std::string_view path);

// The name a source given on a command line takes in the image: its own
// name, or for "." and the like the name of the folder it stands for.
std::string SourceName(const std::string& path);

// The path in the image of `name` in folder `folderPath` ("\" + "A" gives
// "\A", "\A" + "B" gives "\A\B").
std::u16string ImageChildPath(std::u16string_view folderPath, std::u16string_view name);

} // namespace engine
