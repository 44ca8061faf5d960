#include "port/DialogHooks.h"

#include <mutex>

namespace port {

namespace {

// Hooks are installed on the GUI thread but called from workers too: copy the
// hook out under the lock and call it without holding the lock.
std::mutex g_mutex;
MessageBoxHook g_messageBox;
FileDialogHook g_fileDialog;
FolderDialogHook g_folderDialog;

template <class Hook> Hook Exchange(Hook& slot, Hook hook) {
    std::lock_guard lock(g_mutex);
    std::swap(slot, hook);
    return hook;
}

template <class Hook> Hook Current(const Hook& slot) {
    std::lock_guard lock(g_mutex);
    return slot;
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return Exchange(g_messageBox, std::move(hook));
}
FileDialogHook SetFileDialogHook(FileDialogHook hook) {
    return Exchange(g_fileDialog, std::move(hook));
}
FolderDialogHook SetFolderDialogHook(FolderDialogHook hook) {
    return Exchange(g_folderDialog, std::move(hook));
}

int ShowMessageBox(const MessageBoxRequest& request) {
    if (auto hook = Current(g_messageBox))
        return hook(request);
    return (request.style & MB_BUTTONMASK) == MB_YESNO ? 7 : 1;
}

std::optional<std::string> ShowFileDialog(const FileDialogRequest& request) {
    if (auto hook = Current(g_fileDialog))
        return hook(request);
    return std::nullopt;
}

std::optional<std::string> ShowFolderDialog(const FolderDialogRequest& request) {
    if (auto hook = Current(g_folderDialog))
        return hook(request);
    return std::nullopt;
}

} // namespace port
