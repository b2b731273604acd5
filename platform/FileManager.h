#pragma once
// Showing folders and files in the desktop's file manager.
//
// Each request starts a detached launcher process and returns at once; the launcher asks the
// file manager over D-Bus (org.freedesktop.FileManager1, through `dbus-send`) and, when that
// fails, runs `xdg-open` on the folder. Programs are found on PATH and get their arguments as a
// list, never through a shell. The launcher belongs to a session of its own, inherits no
// descriptors besides /dev/null on 0 to 2, and is never the caller's child once the call
// returns, so nothing is left to reap.

#include <string>

namespace platform {

// Whether `path` names an existing folder (a symbolic link to one included).
bool IsExistingFolder(const std::string& path);

// Opens `folder` in the file manager. Returns whether the launcher was started.
bool ShowFolderInFileManager(const std::string& folder);

// Opens the folder of `file` with the file selected (or just the folder, on the fallback).
// Returns whether the launcher was started.
bool ShowFileInFileManager(const std::string& file);

}  // namespace platform
