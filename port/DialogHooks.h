// Replaceable hooks for the program's modal dialogs: message boxes, open/save
// file dialogs and the folder browser. The GUI installs real implementations
// at start-up (InstallWxDialogHooks in text/WxDialogHooks.h); tests install
// their own to script answers and record what was shown. No wx here.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace port {

// Message box style flags and results, with the platform's numbers.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_BUTTONMASK = 0xF;
inline constexpr unsigned MB_ICONMASK = 0xF0;

struct MessageBoxRequest {
    std::string text;    // UTF-8
    std::string caption; // UTF-8
    unsigned style = MB_OK;
};
// Returns the platform's result (IDOK 1, IDYES 6, IDNO 7, ...).
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

struct FileDialogRequest {
    void* owner = nullptr; // the owning window (a wxWindow* in the GUI), or null
    bool save = false;     // save dialog, else open dialog
    std::string title;     // empty: the toolkit's default title
    std::string filter;    // "Iso Files (*.iso)|*.iso" pairs joined with '|'
    std::string defaultDir;
    std::string defaultFile;
    bool mustExist = false;       // open: file and path must exist
    bool overwritePrompt = false; // save: ask before replacing a file
    bool multiSelect = false;     // open: several files may be chosen
};
// The chosen path, or nothing when the user cancelled. With multiSelect the
// chosen paths, each ended by a zero character (which no path can hold).
using FileDialogHook = std::function<std::optional<std::string>(const FileDialogRequest&)>;

struct FolderDialogRequest {
    void* owner = nullptr;
    std::string title;
    std::string defaultPath;
};
using FolderDialogHook = std::function<std::optional<std::string>(const FolderDialogRequest&)>;

// Each Set* installs a hook and returns the one it replaces. With no hook
// installed, a message box answers IDOK (IDNO for Yes/No) and a file or folder
// dialog counts as cancelled, so code without a GUI never blocks.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
FileDialogHook SetFileDialogHook(FileDialogHook hook);
FolderDialogHook SetFolderDialogHook(FolderDialogHook hook);

int ShowMessageBox(const MessageBoxRequest& request);
std::optional<std::string> ShowFileDialog(const FileDialogRequest& request);
std::optional<std::string> ShowFolderDialog(const FolderDialogRequest& request);

// Installs a hook for the lifetime of a scope (tests).
template <class Hook, Hook (*Set)(Hook)> class ScopedHook {
public:
    explicit ScopedHook(Hook hook) : m_previous(Set(std::move(hook))) {}
    ~ScopedHook() { Set(std::move(m_previous)); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

private:
    Hook m_previous;
};
using ScopedMessageBoxHook = ScopedHook<MessageBoxHook, &SetMessageBoxHook>;
using ScopedFileDialogHook = ScopedHook<FileDialogHook, &SetFileDialogHook>;
using ScopedFolderDialogHook = ScopedHook<FolderDialogHook, &SetFolderDialogHook>;

} // namespace port
