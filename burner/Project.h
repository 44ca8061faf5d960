// The engine's data project: a tree of folders and files as they will stand
// in the image, each file naming its source on the host. Names and host paths
// are UTF-8 here; the engine interface converts from UTF-16.
//
// Paths in the image are written with backslashes: "\" is the root, "\A\B"
// (or "\A\B\") folder B in A. Empty parts are skipped; "." and ".." are
// refused.
//
// Names in the image: a "/" or "\" in a name becomes "_", and a name longer
// than 255 bytes (the Rock Ridge limit) is shortened, keeping its extension.
// A file whose name is taken in its folder gets the first free name of the
// form "stem (2).ext", "stem (3).ext", ...; a folder whose name is taken is
// refused, so that what the caller puts in it cannot land in the other one.
#pragma once

#include "port/Errors.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace burner {

struct ProjectNode {
    std::string name; // name in the image; empty for the root
    bool isDir = true;
    std::string source;                                           // host path of a file
    std::map<std::string, std::unique_ptr<ProjectNode>> children; // folders only

    std::unique_ptr<ProjectNode> Clone() const;
};

// What the engine reports for an added file.
struct AddedFile {
    std::string name;       // name given in the image
    std::string dir;        // folder in the image, "\" or "\A\B"
    std::string path;       // full path in the image, "\A\B\name"
    std::uint64_t size = 0; // as the source was at the time of adding (0 if unreadable)
    std::uint32_t mode = 0;
    std::int64_t mtime = 0;
    bool renamed = false; // the name differs from the one asked for
};

// What the engine reports for a created folder.
struct CreatedDir {
    std::string name; // name given in the image
    std::string path; // full path in the image, "\A\B"
};

class Project {
public:
    Project();

    // Adds a file. `dir` null or empty means the root; `name` null or empty
    // means the last part of the source path. The source is not opened here:
    // a source that cannot be read makes the build fail and say which.
    // Errors: ERROR_INVALID_PARAMETER (no source), ERROR_PATH_NOT_FOUND (no
    // such folder), ERROR_INVALID_NAME.
    port::ErrorCode AddFile(std::string_view source, std::string_view dir, std::string_view name,
                            AddedFile& out);

    // Creates folder `name` in `parentPath`. Errors: ERROR_PATH_NOT_FOUND,
    // ERROR_ALREADY_EXISTS (the name is taken), ERROR_INVALID_NAME.
    port::ErrorCode CreateDir(std::string_view name, std::string_view parentPath, CreatedDir& out);

    // Removes file `name` of folder `dirPath`. Error: ERROR_FILE_NOT_FOUND,
    // ERROR_PATH_NOT_FOUND.
    port::ErrorCode RemoveFile(std::string_view name, std::string_view dirPath);

    // Removes a folder with everything in it. The root cannot be removed
    // (ERROR_ACCESS_DENIED); a missing folder gives ERROR_PATH_NOT_FOUND.
    port::ErrorCode RemoveDir(std::string_view dirPath);

    void Clear();
    const ProjectNode& Root() const { return *m_root; }
    std::unique_ptr<ProjectNode> Snapshot() const { return m_root->Clone(); }

private:
    ProjectNode* FindDir(std::string_view path, std::string* canonical) const;
    std::unique_ptr<ProjectNode> m_root;
};

// Splits an image path into its parts; false for "." or "..".
bool SplitImagePath(std::string_view path, std::vector<std::string>& parts);

// A name as the image can hold it (see above); empty when none can be made.
std::string FitName(std::string_view name);

// The first name that is free in `dir`, starting with `name` itself.
std::string FreeName(const ProjectNode& dir, const std::string& name);

} // namespace burner
