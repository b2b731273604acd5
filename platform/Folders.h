#pragma once
// Folders and files by name (UTF-8 on every system), and the user's documents folder.

#include <string>

namespace platform {

// `folder` with every link, "." and ".." resolved; "" when it does not exist.
std::string CanonicalFolder(const std::string& folder);

// Makes `folder` and every folder above it that is missing; true when it is a folder afterwards.
bool MakeFolders(const std::string& folder);

// Removes the file `path`; false when it is still there.
bool RemoveFile(const std::string& path);

// The user's documents folder, "" when there is none: on Linux the XDG user folder DOCUMENTS
// ($XDG_CONFIG_HOME/user-dirs.dirs, else ~/.config/user-dirs.dirs), else ~/Documents; on Windows
// the known folder Documents.
std::string DocumentsFolder();

// The folder where programs keep the user's data: on Linux $XDG_DATA_HOME when it is absolute,
// else ~/.local/share ($HOME; ".local/share" without one); on Windows the known folder
// LocalAppData (%LOCALAPPDATA%), "" when there is none.
std::string UserDataFolder();
// The folder that installed programs live under, whose files their users may not write: on
// Windows the known folder ProgramFilesX64 ("C:\Program Files"); "" on Linux, where an installed
// program is known by its own folder (the install's bin folder).
std::string InstalledProgramsFolder();

// The file `name` ("Kelvo/register.sqlite") in UserDataFolder() as help texts write it:
// "$XDG_DATA_HOME/<name> (~/.local/share/<name>)" on Linux, "%LOCALAPPDATA%\<name>" on Windows.
std::string UserDataFileText(const std::string& name);

}  // namespace platform
