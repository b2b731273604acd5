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

}  // namespace platform
