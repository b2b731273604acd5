#include "platform/FileManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace platform {
namespace {

// The path made absolute and tidy, without a trailing '/', as a file URI needs it.
std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) absolute = path;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string ParentFolder(const std::string& absolutePath) {
    const std::string parent = std::filesystem::path(absolutePath).parent_path().string();
    return parent.empty() ? "/" : parent;
}

// "file://" and the path with every byte but letters, digits, "-._~" and '/' percent-encoded.
// Commas are encoded too: dbus-send would split an array argument at them.
std::string FileUri(const std::string& absolutePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : absolutePath) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0F];
        }
    }
    return uri;
}

std::vector<std::string> FileManagerCall(const char* method, const std::string& uri) {
    return {"dbus-send",
            "--session",
            "--print-reply",
            "--dest=org.freedesktop.FileManager1",
            "--type=method_call",
            "/org/freedesktop/FileManager1",
            std::string("org.freedesktop.FileManager1.") + method,
            "array:string:" + uri,
            "string:"};
}

// A null-terminated argv over `args`, which must outlive it.
std::vector<char*> ArgvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

int WaitForExit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs in the detached launcher, a child of a forked multithreaded process: only calls that are
// safe after fork (no allocation, no locks). Never returns.
[[noreturn]] void RunLauncher(char* const* query, char* const* fallback, int descriptorLimit) {
    setsid();
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &defaultAction, nullptr);

    if (close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < descriptorLimit; ++fd) close(fd);
    }
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        for (int fd = 0; fd <= 2; ++fd) dup2(devNull, fd);
        if (devNull > 2) close(devNull);
    }

    const pid_t child = fork();
    if (child == 0) {
        execvp(query[0], query);
        _exit(127);
    }
    if (child > 0 && WaitForExit(child) == 0) _exit(0);
    execvp(fallback[0], fallback);
    _exit(127);
}

// Starts the launcher through an intermediate child that exits at once, so that the launcher is
// adopted by init (or the nearest subreaper) and the caller waits only for that quick exit.
bool StartLauncher(std::vector<std::string> query, std::vector<std::string> fallback) {
    // Everything the children use is prepared here: they must not allocate.
    const std::vector<char*> queryArgv = ArgvOf(query);
    const std::vector<char*> fallbackArgv = ArgvOf(fallback);
    rlimit limit = {};
    const int descriptorLimit = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                                    ? static_cast<int>(limit.rlim_cur)
                                    : 65536;

    const int savedErrno = errno;
    const pid_t intermediate = fork();
    if (intermediate == 0) {
        const pid_t launcher = fork();
        if (launcher == 0) RunLauncher(queryArgv.data(), fallbackArgv.data(), descriptorLimit);
        _exit(launcher > 0 ? 0 : 1);
    }
    const bool started = intermediate > 0 && WaitForExit(intermediate) == 0;
    errno = savedErrno;
    return started;
}

}  // namespace

bool IsExistingFolder(const std::string& path) {
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ShowFolderInFileManager(const std::string& folder) {
    const std::string absolute = AbsolutePath(folder);
    return StartLauncher(FileManagerCall("ShowFolders", FileUri(absolute)), {"xdg-open", absolute});
}

bool ShowFileInFileManager(const std::string& file) {
    const std::string absolute = AbsolutePath(file);
    return StartLauncher(FileManagerCall("ShowItems", FileUri(absolute)),
                         {"xdg-open", ParentFolder(absolute)});
}

}  // namespace platform
