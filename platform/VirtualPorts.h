#pragma once
// The virtual port folder as a place to publish in: created on demand, trusted only when it is
// private to this user, and one entry per published port (a symbolic link to a terminal).

#include <string>

namespace platform {

// True for a name that can stand as an entry of the folder: not empty, not "." or "..", no '/'.
bool IsValidPortName(const std::string& name);

// True when `path` is a folder (not a link to one) owned by this user that nobody else can write
// to: only then may its entries be offered as ports, since whoever can write there decides what
// the console opens.
bool IsPrivateFolder(const std::string& path);

// Creates VirtualPortFolder() with mode 0700 when it is missing (its parent must exist). Throws
// std::system_error when it cannot be created, std::runtime_error when it exists but is not
// private to this user.
void EnsureVirtualPortFolder();

// One published port: VirtualPortFolder()/name -> target, for as long as the object lives.
class PublishedPort {
  public:
    // Creates the folder when needed. A link of that name left by a publisher that was killed
    // (its target gone, or given to `target` since) is replaced. Throws std::invalid_argument for
    // an invalid name, std::runtime_error when the name is taken by a live entry or the folder
    // cannot be used.
    PublishedPort(const std::string& name, const std::string& target);
    // Removes the link, unless it was replaced meanwhile by one pointing elsewhere.
    ~PublishedPort();
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    const std::string& Path() const { return path_; }  // the link

  private:
    std::string path_;
    std::string target_;
};

}  // namespace platform
