#include "OutputFiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// SIGPIPE too: a log written to a pipe that closes ends the render like a stop.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
// Longest part of the final name a temporary name repeats, so that it stays within NAME_MAX.
constexpr size_t kNameKept = 120;

// What the handler removes: the temporary paths, owned by OutputFiles, set before the file is
// made and cleared after it is gone.
std::atomic<const char*> temporaries[OutputFiles::kMaxFiles];
std::atomic<bool> lineOpen{false};
static_assert(std::atomic<const char*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onSignal(int signal)
{
    for (std::atomic<const char*>& path : temporaries)
        if (const char* p = path.load())
            unlink(p);
    static const char kLine[] = "\nc64render: interrupted\n";
    const bool open = lineOpen.load();
    ssize_t ignored = write(STDERR_FILENO, kLine + (open ? 0 : 1), sizeof kLine - (open ? 1 : 2));
    (void)ignored;
    _exit(128 + signal);
}

// Holds the signals off while it lives, so that the handler never sees a file half made or half
// renamed.
class SignalsHeld
{
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals)
            sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &previous);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous;
};

}  // namespace

void OutputFiles::catchSignals()
{
    for (int s : kSignals) {
        struct sigaction old{};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action{};
        action.sa_handler = onSignal;
        sigfillset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}

void OutputFiles::setLineOpen(bool open)
{
    lineOpen.store(open);
}

std::string OutputFiles::add(const std::string& path, std::string& error)
{
    namespace fs = std::filesystem;
    auto fail = [&error](int code) {
        error = std::strerror(code);
        return std::string();
    };
    std::string final = path;
    struct stat st;
    mode_t mode;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(EISDIR);
        if (access(path.c_str(), W_OK) != 0)
            return fail(errno);
        if (!S_ISREG(st.st_mode)) {
            files.push_back(std::make_unique<File>(File{path, "", 0}));
            return path;
        }
        mode = st.st_mode & 07777;
        // A link is followed: the file it names is the one replaced.
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        if (!ec)
            final = target.string();
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    size_t slot = 0;
    while (slot < kMaxFiles && temporaries[slot].load())
        ++slot;
    if (slot == kMaxFiles)
        return fail(EMFILE);
    const fs::path finalPath(final);
    const std::string name = finalPath.filename().string();
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    const std::string folder = finalPath.has_parent_path() ? finalPath.parent_path().string() : ".";
    auto file = std::make_unique<File>();
    file->final = final;
    file->temporary = folder + "/." + name.substr(0, kNameKept) + ".XXXXXX" + extension;
    file->slot = slot;

    const SignalsHeld held;
    temporaries[slot].store(file->temporary.c_str());
    const int fd = mkstemps(file->temporary.data(), int(extension.size()));
    if (fd < 0) {
        const int code = errno;
        temporaries[slot].store(nullptr);
        return fail(code);
    }
    fchmod(fd, mode);
    close(fd);
    files.push_back(std::move(file));
    return files.back()->temporary;
}

bool OutputFiles::commit(std::string& error)
{
    bool ok = true;
    {
        const SignalsHeld held;
        for (const std::unique_ptr<File>& file : files) {
            if (file->temporary.empty())
                continue;
            if (rename(file->temporary.c_str(), file->final.c_str()) != 0) {
                error = file->final + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            temporaries[file->slot].store(nullptr);
            file->temporary.clear();
        }
    }
    discard();
    return ok;
}

void OutputFiles::discard()
{
    const SignalsHeld held;
    for (const std::unique_ptr<File>& file : files) {
        if (file->temporary.empty())
            continue;
        unlink(file->temporary.c_str());
        temporaries[file->slot].store(nullptr);
    }
    files.clear();
}

bool OutputFiles::isTemporary(const std::string& path) const
{
    for (const std::unique_ptr<File>& file : files)
        if (!file->temporary.empty() && file->temporary == path)
            return true;
    return false;
}
