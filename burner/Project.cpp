// The data project's tree and its naming rules.
#include "burner/Project.h"

#include "engine/SourceWalk.h"

#include <sys/stat.h>

namespace burner {

namespace {

constexpr std::size_t kMaxNameBytes = 255; // Rock Ridge (and libisofs) limit
constexpr std::size_t kMaxExtBytes = 32;   // longer "extensions" are not kept whole

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
std::string CutUtf8(std::string_view s, std::size_t max) {
    if (s.size() <= max)
        return std::string(s);
    std::size_t n = max;
    while (n > 0 && IsContinuation(s[n]))
        --n;
    return std::string(s.substr(0, n));
}

// Splits "name.ext" into "name" and ".ext"; a leading dot or a long tail
// is not an extension.
void SplitExtension(std::string_view name, std::string_view& stem, std::string_view& ext) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtBytes) {
        stem = name;
        ext = {};
        return;
    }
    stem = name.substr(0, dot);
    ext = name.substr(dot);
}

// stem + suffix + ext within kMaxNameBytes, shortening the stem.
std::string Compose(std::string_view stem, std::string_view suffix, std::string_view ext) {
    std::size_t room = kMaxNameBytes - suffix.size() - ext.size();
    return CutUtf8(stem, room) + std::string(suffix) + std::string(ext);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return dir == "\\" ? "\\" + name : dir + "\\" + name;
}

} // namespace

std::unique_ptr<ProjectNode> ProjectNode::Clone() const {
    auto copy = std::make_unique<ProjectNode>();
    copy->name = name;
    copy->isDir = isDir;
    copy->source = source;
    for (const auto& [key, child] : children)
        copy->children.emplace(key, child->Clone());
    return copy;
}

bool SplitImagePath(std::string_view path, std::vector<std::string>& parts) {
    parts.clear();
    while (!path.empty()) {
        std::size_t sep = path.find('\\');
        std::string_view part = path.substr(0, sep);
        if (part == "." || part == "..")
            return false;
        if (!part.empty())
            parts.emplace_back(part);
        if (sep == std::string_view::npos)
            break;
        path.remove_prefix(sep + 1);
    }
    return true;
}

std::string FitName(std::string_view in) {
    std::string name(in);
    for (char& c : name) {
        if (c == '/' || c == '\\')
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        return {};
    if (name.size() > kMaxNameBytes) {
        std::string_view stem, ext;
        SplitExtension(name, stem, ext);
        name = Compose(stem, "", ext);
    }
    return name;
}

std::string FreeName(const ProjectNode& dir, const std::string& name) {
    if (!dir.children.count(name))
        return name;
    std::string_view stem, ext;
    SplitExtension(name, stem, ext);
    for (unsigned n = 2;; ++n) {
        std::string candidate = Compose(stem, " (" + std::to_string(n) + ")", ext);
        if (!dir.children.count(candidate))
            return candidate;
    }
}

Project::Project() : m_root(std::make_unique<ProjectNode>()) {}

void Project::Clear() {
    m_root = std::make_unique<ProjectNode>();
}

ProjectNode* Project::FindDir(std::string_view path, std::string* canonical) const {
    std::vector<std::string> parts;
    if (!SplitImagePath(path, parts))
        return nullptr;
    ProjectNode* node = m_root.get();
    std::string where = "\\";
    for (const std::string& part : parts) {
        auto it = node->children.find(part);
        if (it == node->children.end() || !it->second->isDir)
            return nullptr;
        node = it->second.get();
        where = JoinPath(where, part);
    }
    if (canonical)
        *canonical = where;
    return node;
}

port::ErrorCode Project::AddFile(std::string_view source, std::string_view dir,
                                 std::string_view name, AddedFile& out) {
    if (source.empty())
        return port::ERROR_INVALID_PARAMETER;
    std::string dirPath;
    ProjectNode* parent = FindDir(dir, &dirPath);
    if (!parent)
        return port::ERROR_PATH_NOT_FOUND;
    std::string wanted = name.empty() ? engine::HostBaseName(source) : std::string(name);
    std::string fitted = FitName(wanted);
    if (fitted.empty())
        return port::ERROR_INVALID_NAME;
    std::string given = FreeName(*parent, fitted);

    auto node = std::make_unique<ProjectNode>();
    node->name = given;
    node->isDir = false;
    node->source = std::string(source);
    parent->children.emplace(given, std::move(node));

    out = AddedFile{};
    out.name = given;
    out.dir = dirPath;
    out.path = JoinPath(dirPath, given);
    out.renamed = given != wanted;
    struct stat st;
    if (::stat(std::string(source).c_str(), &st) == 0) {
        out.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        out.mode = st.st_mode;
        out.mtime = st.st_mtime;
    }
    return port::ERROR_SUCCESS;
}

port::ErrorCode Project::CreateDir(std::string_view name, std::string_view parentPath,
                                   CreatedDir& out) {
    std::string dirPath;
    ProjectNode* parent = FindDir(parentPath, &dirPath);
    if (!parent)
        return port::ERROR_PATH_NOT_FOUND;
    std::string fitted = FitName(name);
    if (fitted.empty())
        return port::ERROR_INVALID_NAME;
    if (parent->children.count(fitted))
        return port::ERROR_ALREADY_EXISTS;
    auto node = std::make_unique<ProjectNode>();
    node->name = fitted;
    parent->children.emplace(fitted, std::move(node));
    out.name = fitted;
    out.path = JoinPath(dirPath, fitted);
    return port::ERROR_SUCCESS;
}

port::ErrorCode Project::RemoveFile(std::string_view name, std::string_view dirPath) {
    ProjectNode* parent = FindDir(dirPath, nullptr);
    if (!parent)
        return port::ERROR_PATH_NOT_FOUND;
    auto it = parent->children.find(std::string(name));
    if (it == parent->children.end() || it->second->isDir)
        return port::ERROR_FILE_NOT_FOUND;
    parent->children.erase(it);
    return port::ERROR_SUCCESS;
}

port::ErrorCode Project::RemoveDir(std::string_view dirPath) {
    std::vector<std::string> parts;
    if (!SplitImagePath(dirPath, parts))
        return port::ERROR_PATH_NOT_FOUND;
    if (parts.empty())
        return port::ERROR_ACCESS_DENIED;
    ProjectNode* node = m_root.get();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = node->children.find(parts[i]);
        if (it == node->children.end() || !it->second->isDir)
            return port::ERROR_PATH_NOT_FOUND;
        node = it->second.get();
    }
    auto it = node->children.find(parts.back());
    if (it == node->children.end() || !it->second->isDir)
        return port::ERROR_PATH_NOT_FOUND;
    node->children.erase(it);
    return port::ERROR_SUCCESS;
}

} // namespace burner
