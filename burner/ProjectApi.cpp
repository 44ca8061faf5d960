// The engine's options and data project, with the name reports of AddFile
// and CreateDir. Every operation returns 0 on success or an error number of
// port/Errors.h. Reports are made on the caller's thread, during the call,
// after the engine's lock is released (so a report may call the engine).
#include "burner/Options.h"
#include "burner/State.h"
#include "port/Utf.h"

namespace {

constexpr std::size_t kMaxText = 32768; // longest text read from a caller's pointer

// ProjectSerial's count, under the engine's lock.
std::uint64_t g_projectSerial = 0;

// Reads a caller's text; false when it does not end within kMaxText units.
bool ReadText(const char16_t* s, std::string& out) {
    out.clear();
    if (!s)
        return true;
    std::size_t n = port::U16Length(s, kMaxText);
    if (n == kMaxText)
        return false;
    out = port::ToUtf8(std::u16string_view(s, n));
    return true;
}

std::string Section(const char16_t* hive, const char16_t* key) {
    std::string h, k;
    ReadText(hive, h);
    ReadText(key, k);
    return h + k;
}

// Runs op on the data project under the engine's lock; ERROR_NOT_READY when
// no data project is open.
template <class Op> port::ErrorCode OnDataProject(Op&& op) {
    std::lock_guard lock(burner::State().mutex);
    if (burner::State().projectType != engine::kProjectData)
        return port::ERROR_NOT_READY;
    return op(burner::State().project);
}

} // namespace

namespace engine {

using burner::State;

void GetOptions(EngineOptions* out) {
    if (!out)
        return;
    std::lock_guard lock(State().mutex);
    *out = State().options;
}

void SetOptions(EngineOptions options) {
    burner::TerminateTexts(options);
    std::lock_guard lock(State().mutex);
    State().options = options;
}

int SetOptionsFromRegistry(const char16_t* hive, const char16_t* key) {
    EngineOptions o;
    GetOptions(&o);
    port::ErrorCode rc = burner::LoadOptions(burner::OptionsFilePath(), Section(hive, key), o);
    if (rc == port::ERROR_SUCCESS)
        SetOptions(o);
    return static_cast<int>(rc);
}

int SaveOptionsToRegistry(const char16_t* hive, const char16_t* key) {
    EngineOptions o;
    GetOptions(&o);
    return static_cast<int>(burner::SaveOptions(burner::OptionsFilePath(), Section(hive, key), o));
}

int CreateProject(int type) {
    if (type != kProjectData && type != kProjectBinCue)
        return static_cast<int>(port::ERROR_INVALID_PARAMETER);
    std::lock_guard lock(State().mutex);
    ++g_projectSerial;
    State().project.Clear();
    State().cueSheet.clear();
    State().projectType = type;
    return 0;
}

void DeleteProject() {
    std::lock_guard lock(State().mutex);
    ++g_projectSerial;
    State().project.Clear();
    State().cueSheet.clear();
    State().projectType = 0;
}

void ClearAll() {
    std::lock_guard lock(State().mutex);
    ++g_projectSerial;
    State().project.Clear();
    State().cueSheet.clear();
}

std::uint64_t ProjectSerial() {
    std::lock_guard lock(State().mutex);
    return g_projectSerial;
}

int AddFile(FileRecord record) {
    std::string source, dir, name;
    if (!record.SourcePath || !ReadText(record.SourcePath, source) ||
        !ReadText(record.ImageDir, dir) || !ReadText(record.ImageName, name))
        return static_cast<int>(port::ERROR_INVALID_PARAMETER);
    {
        // A BIN/CUE project holds one cue sheet, added at the root with flag 1;
        // the sheet is read when the burn starts.
        std::lock_guard lock(State().mutex);
        if (State().projectType == kProjectBinCue) {
            if (record.Flag != 1 || (!dir.empty() && dir != "\\"))
                return static_cast<int>(port::ERROR_INVALID_PARAMETER);
            State().cueSheet = source;
            return 0;
        }
    }
    burner::AddedFile added;
    port::ErrorCode rc = OnDataProject(
        [&](burner::Project& project) { return project.AddFile(source, dir, name, added); });
    if (rc != port::ERROR_SUCCESS)
        return static_cast<int>(rc);
    burner::Callbacks cb = burner::CurrentCallbacks();
    if (cb.addFile) {
        std::u16string given = port::ToUtf16(added.name), where = port::ToUtf16(added.dir),
                       full = port::ToUtf16(added.path);
        cb.addFile(record.SourcePath, given.c_str(), where.c_str(), full.c_str(), added.size,
                   added.mode, added.mtime, added.renamed ? 1 : 0, cb.addFileUser);
    }
    return 0;
}

int CreateDir(const char16_t* name, const char16_t* parentPath) {
    std::string n, parent;
    if (!name || !ReadText(name, n) || !ReadText(parentPath, parent))
        return static_cast<int>(port::ERROR_INVALID_PARAMETER);
    burner::CreatedDir created;
    port::ErrorCode rc = OnDataProject(
        [&](burner::Project& project) { return project.CreateDir(n, parent, created); });
    if (rc != port::ERROR_SUCCESS)
        return static_cast<int>(rc);
    burner::Callbacks cb = burner::CurrentCallbacks();
    if (cb.createDir) {
        std::u16string given = port::ToUtf16(created.name), full = port::ToUtf16(created.path);
        cb.createDir(name, given.c_str(), given.c_str(), full.c_str(), cb.createDirUser);
    }
    return 0;
}

int RemoveFile(const char16_t* name, const char16_t* dirPath) {
    std::string n, dir;
    if (!name || !ReadText(name, n) || !ReadText(dirPath, dir))
        return static_cast<int>(port::ERROR_INVALID_PARAMETER);
    return static_cast<int>(
        OnDataProject([&](burner::Project& project) { return project.RemoveFile(n, dir); }));
}

int RemoveDir(const char16_t* dirPath) {
    std::string dir;
    if (!dirPath || !ReadText(dirPath, dir))
        return static_cast<int>(port::ERROR_INVALID_PARAMETER);
    return static_cast<int>(
        OnDataProject([&](burner::Project& project) { return project.RemoveDir(dir); }));
}

} // namespace engine
