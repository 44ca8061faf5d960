// The burning engine as the program requires it: project, options, image
// build, burning, erasing and the drives, with progress and completion
// reported through registered callbacks. Implemented by burner/. Strings are
// UTF-16; 8-bit fields are marked as such. The program side never sees the
// libraries behind it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// The option record, 672 bytes. Fields the program leaves alone are -1 / 0xFF
// ("engine default"); their meanings are documented in burner/Options.h.
struct EngineOptions {
    char VolumeLabel[128];           // 0: 8-bit text, zero-terminated, <= 127 chars
    std::int32_t WriteSpeed;         // 128
    std::uint8_t CloseDisc;          // 132
    std::uint8_t Simulate;           // 133
    char16_t TempFolder[260];        // 134: UTF-16, zero-terminated
    std::uint8_t Verify;             // 654
    std::uint8_t Joliet;             // 655
    std::uint8_t RockRidge;          // 656
    std::uint8_t UnderrunProtection; // 657
    std::uint8_t Reserved658[2];     // 658, 659: padding
    std::int32_t IsoLevel;           // 660
    std::uint8_t Reserved664;        // 664
    std::uint8_t EjectWhenDone;      // 665
    std::uint8_t Reserved666[2];     // 666, 667: padding
    std::int32_t Copies;             // 668
};
static_assert(sizeof(EngineOptions) == 672);
static_assert(offsetof(EngineOptions, WriteSpeed) == 128);
static_assert(offsetof(EngineOptions, CloseDisc) == 132);
static_assert(offsetof(EngineOptions, Simulate) == 133);
static_assert(offsetof(EngineOptions, TempFolder) == 134);
static_assert(offsetof(EngineOptions, Verify) == 654);
static_assert(offsetof(EngineOptions, Joliet) == 655);
static_assert(offsetof(EngineOptions, RockRidge) == 656);
static_assert(offsetof(EngineOptions, UnderrunProtection) == 657);
static_assert(offsetof(EngineOptions, IsoLevel) == 660);
static_assert(offsetof(EngineOptions, Reserved664) == 664);
static_assert(offsetof(EngineOptions, EjectWhenDone) == 665);
static_assert(offsetof(EngineOptions, Copies) == 668);

// Fills a record the way the program does before GetOptions: "BS_NDEF" at 0
// (8-bit) and 134 (UTF-16), -1 in each int32, 0xFF in each byte.
void FillUndefined(EngineOptions& o);

// Adds one file to the project. On 64-bit Linux the three pointers make the
// record 32 bytes rather than the 20 of a 32-bit build; the field order holds.
struct FileRecord {
    const char16_t* SourcePath; // host path of the file
    const char16_t* ImageDir;   // folder in the image ("\", "\A\B") or null for the root
    const char16_t* ImageName;  // name in the image, or null for the source file's name
    std::uint8_t Flag;          // 0
    std::int32_t Reserved;      // 0
};

// Callbacks. The engine may call them on a thread of its own.
using ProcessEventCallback = void (*)(float percent, void* user);
using BurnDoneEventCallback = void (*)(const char16_t* errorText, void* user);
// sourcePath, nameInImage, then six more: the image folder, the full path in
// the image, the file size, the POSIX mode, the modification time (seconds
// since 1970) and whether the name was changed to avoid a clash; then user.
using AddFileEventCallback = void (*)(const char16_t* sourcePath, const char16_t* nameInImage,
                                      const char16_t* imageDir, const char16_t* imagePath,
                                      std::uint64_t size, std::uint32_t mode, std::int64_t mtime,
                                      std::int32_t renamed, void* user);
// The name passed to CreateDir, the name given in the image, the plain name
// (the requested name without decoration), the full path in the image, user.
using CreateDirEventCallback = void (*)(const char16_t* requestedName, const char16_t* nameInImage,
                                        const char16_t* plainName, const char16_t* imagePath,
                                        void* user);

// Lifecycle.
int Initialize();
void DeInitialize();
void SetLanguage(const char16_t* languageSection, const char16_t* languageFile);

void SetProcessEventCallback(ProcessEventCallback fn, void* user);
void SetBurnDoneEventCallback(BurnDoneEventCallback fn, void* user);
void SetAddFileEventCallback(AddFileEventCallback fn, void* user);
void SetCreateDirEventCallback(CreateDirEventCallback fn, void* user);
// The user value a name report goes with (null: none registered), so that a
// page unregisters only callbacks that are its own.
void* AddFileEventUser();
void* CreateDirEventUser();

// Options.
void GetOptions(EngineOptions* out);
void SetOptions(EngineOptions options);
int SetOptionsFromRegistry(const char16_t* hive, const char16_t* key);
// Where the pages keep the engine's options.
inline constexpr char16_t kOptionsHive[] = u"HKEY_CURRENT_USER";
inline constexpr char16_t kOptionsKey[] = u"\\Software\\Spindle\\Engine\\";
int SaveOptionsToRegistry(const char16_t* hive, const char16_t* key);

// Project. Paths in the image start with "\"; the root is "\"; a folder
// path may end in "\" or not ("\A\B" and "\A\B\" are the same folder).
// The operations below return 0 on success, else an error number of
// port/Errors.h. AddFile and CreateDir report the name the item got in the
// image through their callbacks, on the caller's thread, before returning.
// A file whose name is taken in its folder gets a free one ("a (2).txt");
// CreateDir refuses a taken name (ERROR_ALREADY_EXISTS) and a missing parent
// (ERROR_PATH_NOT_FOUND). Naming rules: burner/Project.h.
inline constexpr int kProjectBinCue = 1;
inline constexpr int kProjectData = 2;
// A BIN/CUE project holds one cue sheet, added by AddFile with the image
// folder "\" (or none) and flag 1; it is read when a burn starts.
int CreateProject(int type); // a new, empty project
void DeleteProject();        // no project until the next CreateProject
void ClearAll();             // empties the project, keeps it
int AddFile(FileRecord record);
int CreateDir(const char16_t* name, const char16_t* parentPath);
int RemoveFile(const char16_t* name, const char16_t* dirPath);
int RemoveDir(const char16_t* dirPath); // the folder and everything in it
// Counts the calls of CreateProject, DeleteProject and ClearAll. A page that
// noted it after setting up its project knows, while it reads the same, that
// no other page replaced or emptied the project meanwhile.
std::uint64_t ProjectSerial();

// Image build. BuildISO returns at once; an engine thread writes the image
// from a copy of the project, reporting rising percentages through the
// process callback and ending with exactly one burn-done report (null text
// on success, else what went wrong). A call that cannot start a build (no
// project, no path, a build already running) returns non-zero and makes its
// error report at once. Abort stops a running build and returns when its
// partial file is gone; with no build running it does nothing.
int PrepareISO();
int BuildISO(const char16_t* imagePath);
void Abort();

// Drives. Recorders are libburn drives reached through the drive table: a
// letter whose target is an optical device (/dev/srN) or a file standing in
// for one ("stdio:PATH"). SetDevice makes the letter's drive the current
// recorder (ERROR_INVALID_DRIVE and no current recorder for any other
// letter). GetDeviceInformation fills the 8-byte vendor, 16-byte product and
// 8-byte revision fields as the drive reports them, blank-padded and not
// terminated; 0 on success. EjectDevice and CloseDevice open and close the
// tray of a real drive (0 on success) and succeed without effect on a file.
int SetDevice(char16_t driveLetter);
int GetDeviceInformation(char vendor[8], char product[16], char revision[8]);
int EjectDevice();
int CloseDevice();

// Burning and erasing on the current recorder, through the engine's own
// modal dialogs, which speak the language handed over by SetLanguage.
// BurnDialog burns the ISO file isoPath or, with an empty path, the cue
// sheet of the BIN/CUE project, with the options in force (speed, simulate,
// verify, copies, close disc, underrun protection, eject); a, b and c are
// not used. The burn runs on an engine thread, reports progress through the
// process callback and ends with exactly one burn-done report (null text on
// success). EraseDialog blanks a rewritable disc; it makes no burn-done
// report. Both return 0 once their dialog closed, ERROR_INVALID_DRIVE when
// there is no current recorder (no dialog then).
int BurnDialog(int a, int b, int c, const char16_t* title, const char16_t* isoPath);
int EraseDialog(const char16_t* title);

} // namespace engine
