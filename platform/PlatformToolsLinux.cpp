#include "platform/PlatformToolsLinux.h"

#include "platform/PlatformToolsDesktop.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string join(const std::string& folder, const std::string& item)
{
    return folder == "/" ? "/" + item : folder + "/" + item;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

// The preferences files and the standard folders share one home and one local root.
std::string homeFolder() { return CFShimHomeFolder(); }

std::string localRoot() { return CFShimLocalRoot(); }

bool isText(const std::string& path)
{
    vantor::CFStringWrapper text(path, CFStringGetSystemEncoding(), false);
    return text.getCFStringRef() != nullptr;
}

// Runs `op` on the path when it is UTF-8 text, then on its raw bytes when that could not be
// done or failed. A path holding a zero byte cannot be handed to the system at all.
template <class Op>
bool twoAttempts(const std::string& path, Op op)
{
    if (path.find('\0') != std::string::npos)
        return false;
    bool ok = false;
    if (isText(path))
        ok = op(path);
    if (!ok && !path.empty())
        ok = op(path);
    return ok;
}

bool removeTree(const std::string& path)
{
    std::error_code ec;
    const auto removed = fs::remove_all(fs::path(path), ec);
    return !ec && removed != 0 && removed != static_cast<std::uintmax_t>(-1);
}

// --- copies ----------------------------------------------------------------------------------

int copyRegular(const std::string& from, const std::string& to, mode_t mode, bool& created)
{
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        return errno;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        close(in);
        return error;
    }
    created = true;
    int error = 0;
    char buffer[65536];
    while (!error) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && !error;) {
            const ssize_t n = write(out, buffer + done, size_t(got - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                error = n < 0 ? errno : EIO;
            else
                done += n;
        }
    }
    close(in);
    if (!error && fchmod(out, mode & 07777) != 0)
        error = errno;
    if (close(out) != 0 && !error)
        error = errno;
    return error;
}

// Copies `from` to the new item `to`, which must not exist; folders whole, links as links.
// `created` tells whether `to` was made (and so may be removed again).
int copyItem(const std::string& from, const std::string& to, bool& created)
{
    created = false;
    struct stat st;
    if (lstat(from.c_str(), &st) != 0)
        return errno;
    if (S_ISREG(st.st_mode))
        return copyRegular(from, to, st.st_mode, created);
    if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size) + 1, '\0');
        const ssize_t n = readlink(from.c_str(), target.data(), target.size());
        if (n < 0)
            return errno;
        target.resize(size_t(n));
        if (symlink(target.c_str(), to.c_str()) != 0)
            return errno;
        created = true;
        return 0;
    }
    if (S_ISFIFO(st.st_mode)) {
        if (mkfifo(to.c_str(), st.st_mode & 07777) != 0)
            return errno;
        created = true;
        return 0;
    }
    if (!S_ISDIR(st.st_mode))
        return ENOTSUP;

    if (mkdir(to.c_str(), 0700) != 0)
        return errno;
    created = true;
    DIR* folder = opendir(from.c_str());
    if (!folder)
        return errno;
    int error = 0;
    while (const dirent* entry = readdir(folder)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, ".."))
            continue;
        bool inner = false;
        if ((error = copyItem(join(from, entry->d_name), join(to, entry->d_name), inner)))
            break;
    }
    closedir(folder);
    if (!error && chmod(to.c_str(), st.st_mode & 07777) != 0)
        error = errno;
    return error;
}

// Copies to a destination that does not exist; a failed copy leaves nothing behind.
int copyFresh(const std::string& from, const std::string& to)
{
    bool created = false;
    const int error = copyItem(from, to, created);
    if (error && created)
        removeTree(to);
    return error;
}

// The resolved form of a path whose last component need not exist; empty when its folder
// cannot be resolved.
std::string resolvedPath(const std::string& path)
{
    const std::string trimmed = withoutTrailingSlashes(path);
    char* folder = realpath(folderOf(trimmed).c_str(), nullptr);
    if (!folder)
        return std::string();
    const size_t slash = trimmed.rfind('/');
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    const std::string resolved = join(folder, name);
    free(folder);
    return resolved;
}

// Whether `inner` is the folder `outer` or lies inside it.
bool isInside(const std::string& inner, const std::string& outer)
{
    char* resolved = realpath(outer.c_str(), nullptr);
    if (!resolved)
        return false;
    std::string base = resolved;
    free(resolved);
    const std::string candidate = resolvedPath(inner);
    if (candidate.empty())
        return false;
    if (base != "/")
        base += '/';
    return candidate + "/" == base || candidate.compare(0, base.size(), base) == 0;
}

// One copy attempt; errno or 0.
int copyOnce(const std::string& from, const std::string& to, bool overwrite)
{
    struct stat source, destination;
    if (lstat(from.c_str(), &source) != 0)
        return errno;
    const bool exists = lstat(to.c_str(), &destination) == 0;
    if (exists && !overwrite)
        return EEXIST;
    if (S_ISDIR(source.st_mode) && isInside(to, from))
        return EINVAL;  // a folder copied into itself would never end
    if (!exists)
        return copyFresh(from, to);

    // Copy beside the destination first, so that a failed copy leaves it as it was.
    const std::string folder = folderOf(to);
    std::string temp;
    int error = EEXIST;
    for (int attempt = 0; error == EEXIST && attempt < 100; ++attempt) {
        temp = join(folder, ".zrg" + std::to_string(PUniqueTicks()) + ".copy");
        error = copyFresh(from, temp);
    }
    if (error)
        return error;
    if (!S_ISDIR(source.st_mode) && !S_ISDIR(destination.st_mode)) {
        if (rename(temp.c_str(), to.c_str()) != 0) {
            error = errno;
            removeTree(temp);
        }
        return error;
    }
    // A folder on either side cannot be renamed over: move the old item aside first.
    const std::string aside = join(folder, ".zrg" + std::to_string(PUniqueTicks()) + ".old");
    if (rename(to.c_str(), aside.c_str()) != 0) {
        error = errno;
        removeTree(temp);
        return error;
    }
    if (rename(temp.c_str(), to.c_str()) != 0) {
        error = errno;
        rename(aside.c_str(), to.c_str());
        removeTree(temp);
        return error;
    }
    removeTree(aside);
    return 0;
}

// --- listing ---------------------------------------------------------------------------------

// The text after the last "." of the last component; empty when that dot is its first byte.
std::string pathExtension(const std::string& item)
{
    const size_t slash = item.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = item.rfind('.');
    if (dot == std::string::npos || dot <= start)
        return std::string();
    return item.substr(dot + 1);
}

bool hasHiddenComponent(const std::string& item)
{
    for (size_t start = 0; start < item.size();) {
        if (item[start] == '.')
            return true;
        const size_t slash = item.find('/', start);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return false;
}

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string shortenPattern(const std::string& pattern)
{
    return pattern.size() >= 3 && pattern.compare(0, 2, "*.") == 0 ? pattern.substr(2) : pattern;
}

// Walks the tree under `folder` without following links and calls visit(item relative to the
// folder, full path, entry) for each item; visit returns false to stop.
template <class Visit>
void walk(const std::string& folder, Visit visit)
{
    if (folder.empty() || folder.find('\0') != std::string::npos)
        return;
    std::error_code ec;
    const std::string base = withoutTrailingSlashes(folder);
    fs::recursive_directory_iterator it(fs::path(base), fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return;
    const size_t prefix = base == "/" ? 1 : base.size() + 1;  // the iterator's paths are base/item
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            return;
        const std::string& path = it->path().native();
        if (path.size() <= prefix)
            continue;
        const std::string item = path.substr(prefix);
        const std::string full = join(base, item);
        if (!visit(item, full, *it))
            return;
    }
}

}  // namespace

uint64_t wrap_absoluteTime()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

bool wrap_FindFolder(ZRC_FindFolder folder, ZRC_FindFolderDomain domain, std::string& path, bool create)
{
    if (folder > kFolderLibrary || domain > kDomainLocal)
        return false;
    std::string found;
    if (domain == kDomainUser) {
        const std::string home = homeFolder();
        const std::string xdg = environment("XDG_DATA_HOME");
        if (folder == kFolderApplicationSupport && !xdg.empty() && xdg[0] == '/')
            found = withoutTrailingSlashes(xdg);
        else if (home.empty())
            return false;
        else if (folder == kFolderApplicationSupport)
            found = join(home, ".local/share");
        else
            found = join(home, folder == kFolderDesktop ? "Desktop" : "Library");
    } else {
        if (folder == kFolderDesktop)
            return false;
        found = join(localRoot(), folder == kFolderLibrary ? "Library" : "Library/Application Support");
    }
    if (create) {
        std::error_code ec;
        fs::create_directories(fs::path(found), ec);
        if (!fs::is_directory(fs::path(found), ec))
            return false;
    }
    if (found.size() >= 1024)  // the longest path the callers take
        return false;
    path = found;
    return true;
}

bool wrap_CreateFolders(const vantor::CFURLWrapper& folder, bool intermediates)
{
    std::string path;
    if (!folder.getFileSystemRepresentation(path) || !isText(path))
        return false;
    if (access(path.c_str(), F_OK) == 0)
        return true;
    if (intermediates) {
        std::error_code ec;
        fs::create_directories(fs::path(path), ec);
        return fs::is_directory(fs::path(path), ec);
    }
    return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && access(path.c_str(), F_OK) == 0);
}

bool wrap_FileExists(const std::string& path)
{
    return twoAttempts(path, [](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0;
    });
}

bool wrap_deleteFile(const std::string& path) { return twoAttempts(path, removeTree); }

bool wrap_deleteDirectory(const std::string& path) { return twoAttempts(path, removeTree); }

CopyFileResult wrap_CopyFile(const std::string& source, const std::string& destination, bool overwrite)
{
    const bool usable = source.find('\0') == std::string::npos && destination.find('\0') == std::string::npos;
    CopyFileResult result{3, 0};
    if (usable && isText(source) && isText(destination)) {
        const int error = copyOnce(source, destination, overwrite);
        if (error == 0)
            return {0, 0};
        result = {2, error};
    }
    if (usable && !source.empty() && !destination.empty()) {
        const int error = copyOnce(source, destination, overwrite);
        result = error == 0 ? CopyFileResult{0, 0} : CopyFileResult{4, error};
    }
    return result;
}

bool wrap_fixFilePermission(const std::string& referenceFolder, const std::string& fileName)
{
    struct stat reference;
    const bool known = twoAttempts(referenceFolder, [&](const std::string& p) {
        return stat(p.c_str(), &reference) == 0;
    });
    if (!known)
        return false;
    return twoAttempts(referenceFolder + "/" + fileName, [&](const std::string& p) {
        const bool owner = chown(p.c_str(), reference.st_uid, reference.st_gid) == 0;  // before the mode
        const bool mode = chmod(p.c_str(), reference.st_mode & 07777) == 0;
        return owner && mode;
    });
}

bool wrap_tempDirectory(std::string& path)
{
    const std::string tmp = environment("TMPDIR");
    path = withoutTrailingSlashes(tmp.empty() ? std::string(P_tmpdir) : tmp);
    return true;
}

void wrap_FileLister(const std::string& folder, const std::string& pattern, std::set<std::string>& out,
                     const std::vector<std::string>& extensions, volatile int* stop)
{
    std::vector<std::string> wanted;
    bool everythingVisible = false;
    for (const std::string& e : extensions) {
        wanted.push_back(shortenPattern(e));
        everythingVisible = everythingVisible || wanted.back() == "*";
    }
    const std::string shortened = shortenPattern(pattern);

    walk(folder, [&](const std::string& item, const std::string& full, const fs::directory_entry&) {
        if (full.size() <= 2047) {
            bool take;
            if (wanted.empty()) {
                take = shortened == "*" || pathExtension(item) == shortened;
            } else if (everythingVisible) {
                take = !hasHiddenComponent(item);
            } else {
                const std::string extension = pathExtension(item);
                take = std::any_of(wanted.begin(), wanted.end(),
                                   [&](const std::string& w) { return equalIgnoringCase(extension, w); });
            }
            if (take)
                out.insert(full);
        }
        return !(stop && *stop);
    });
}

void wrap_DirectoryLister(const std::string& folder, std::set<std::string>& out)
{
    walk(folder, [&](const std::string&, const std::string& full, const fs::directory_entry& entry) {
        std::error_code ec;
        if (full.size() <= 2047 && entry.symlink_status(ec).type() == fs::file_type::directory)
            out.insert(full);
        return true;
    });
}

// --- user, process and desktop services ------------------------------------------------------

namespace {

std::mutex& alertLock()
{
    static std::mutex lock;
    return lock;
}

AlertHandler& alertHandler()
{
    static AlertHandler handler;
    return handler;
}

std::atomic<void (*)(const std::string&)> g_alertLog{nullptr};

int defaultAlert(const AlertRequest& request)
{
    const std::string text = request.message + "\n" + request.informative + "\n";
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
    if (auto writer = g_alertLog.load())
        writer("alert: " + request.message + " | " + request.informative);
    return 0;
}

int showAlert(AlertKind kind, const std::string& message, const std::string& informative,
              std::vector<std::string> buttons)
{
    AlertHandler handler;
    {
        const std::lock_guard<std::mutex> guard(alertLock());
        handler = alertHandler();
    }
    const AlertRequest request{kind, message, informative, std::move(buttons)};
    return handler ? handler(request) : defaultAlert(request);
}

std::string utf8Or(const std::string& text, const char* fallback)
{
    return isText(text) ? text : fallback;
}

// CoreFoundation notices are message alerts too.
void showNotice(const std::string& header, const std::string& message)
{
    showAlert(AlertKind::Message, header, message, {"OK"});
}
[[maybe_unused]] const bool g_noticesRouted = (CFShimSetNoticeHandler(&showNotice), true);

// True unless the second button was chosen.
bool askTwoButtons(AlertKind kind, const std::string& message, const std::string& informative,
                   const char* first, const char* second)
{
    return showAlert(kind, utf8Or(message, ""), utf8Or(informative, ""), {first, second}) != 1;
}

std::mutex& processLock()
{
    static std::mutex lock;
    return lock;
}

DesktopOpener& desktopOpener()
{
    static DesktopOpener opener;
    return opener;
}

std::vector<pid_t>& unreapedOpeners()
{
    static std::vector<pid_t> pids;
    return pids;
}

pid_t spawn(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

void defaultOpen(const std::string& text)
{
    const std::lock_guard<std::mutex> guard(processLock());
    auto& pids = unreapedOpeners();
    pids.erase(std::remove_if(pids.begin(), pids.end(),
                              [](pid_t pid) {
                                  const pid_t done = waitpid(pid, nullptr, WNOHANG);
                                  return done == pid || (done < 0 && errno == ECHILD);
                              }),
               pids.end());
    if (const pid_t pid = spawn("xdg-open", {text}))
        pids.push_back(pid);
}

struct LaunchedApplication {
    pid_t pid;
    bool terminated;
};

// Handles stay valid for the life of the process.
std::deque<LaunchedApplication>& launchedApplications()
{
    static std::deque<LaunchedApplication> launched;
    return launched;
}

std::string firstNonEmpty(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const std::string value = environment(name);
        if (!value.empty())
            return value;
    }
    return std::string();
}

}  // namespace

void wrap_setAlertHandler(AlertHandler handler)
{
    const std::lock_guard<std::mutex> guard(alertLock());
    alertHandler() = std::move(handler);
}

void wrap_setAlertLog(void (*writer)(const std::string& line)) { g_alertLog.store(writer); }

void popupModalMessageWindowLinux(const std::string& message, const std::string& informative)
{
    showAlert(AlertKind::Message, utf8Or(message, ""), utf8Or(informative, "OK"), {"OK"});
}

bool popupModalYesNoWindowLinux(const std::string& message, const std::string& informative)
{
    return askTwoButtons(AlertKind::YesNo, message, informative, "Yes", "No");
}

bool popupModalOkCancelWindowLinux(const std::string& message, const std::string& informative)
{
    return askTwoButtons(AlertKind::OkCancel, message, informative, "Ok", "Cancel");
}

bool wrap_userName(std::string& out)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        out = found->pw_name;
    else
        out = environment("USER");
    return true;
}

bool wrap_osversion(std::string& out)
{
    struct utsname names{};
    out = uname(&names) == 0 ? std::string(names.sysname) + " " + names.release : std::string();
    return true;
}

bool wrap_processName(std::string& out)
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        const std::string path(buffer, size_t(n));
        out = path.substr(path.rfind('/') + 1);
    } else {
        out = program_invocation_short_name;
    }
    return true;
}

void wrap_preferredLanguages(std::vector<std::string>& out)
{
    std::vector<std::string> entries;
    const std::string language = environment("LANGUAGE");
    if (!language.empty()) {
        for (size_t start = 0; start <= language.size();) {
            const size_t colon = std::min(language.find(':', start), language.size());
            entries.push_back(language.substr(start, colon - start));
            start = colon + 1;
        }
    } else {
        entries.push_back(firstNonEmpty({"LC_ALL", "LC_MESSAGES", "LANG"}));
    }
    for (const std::string& entry : entries) {
        const std::string code = entry.substr(0, entry.find_first_of("-_.@"));
        if (!code.empty() && code != "C" && code != "POSIX")
            out.push_back(entry);
    }
}

bool wrap_isSandboxed(const std::string& processName, const char* const* env)
{
    if (processName == "AUHostingServiceXPC_arrow" || processName == "AUHostingServiceXPC")
        return true;
    static const char kKey[] = "APP_SANDBOX_CONTAINER_ID=";
    for (; env && *env; ++env)
        if (strncmp(*env, kKey, sizeof kKey - 1) == 0)
            return true;
    return false;
}

bool wrap_isProcessSandboxed()
{
    std::string name;
    wrap_processName(name);
    return wrap_isSandboxed(name, environ);
}

void wrap_setDesktopOpener(DesktopOpener opener)
{
    const std::lock_guard<std::mutex> guard(processLock());
    desktopOpener() = std::move(opener);
}

void wrap_openWithDesktop(const std::string& text)
{
    DesktopOpener opener;
    {
        const std::lock_guard<std::mutex> guard(processLock());
        opener = desktopOpener();
    }
    if (opener)
        opener(text);
    else
        defaultOpen(text);
}

void wrap_openURL(const std::string& path)
{
    if (!path.empty() && path.find('\0') == std::string::npos && isText(path))
        wrap_openWithDesktop(path);
}

void* wrap_launchApplication(const std::string& path, const std::vector<std::string>& arguments, std::string&)
{
    if (path.empty() || path.find('\0') != std::string::npos || !isText(path))
        return nullptr;
    std::vector<std::string> kept;
    for (const std::string& a : arguments)
        if (a.find('\0') == std::string::npos && isText(a))
            kept.push_back(a);
    const std::lock_guard<std::mutex> guard(processLock());
    const pid_t pid = spawn(path, kept);
    if (pid <= 0)
        return nullptr;
    auto& launched = launchedApplications();
    launched.push_back({pid, false});
    return &launched.back();
}

bool wrap_isRunningAppTerminated(void* handle)
{
    if (!handle)
        return true;
    auto* app = static_cast<LaunchedApplication*>(handle);
    const std::lock_guard<std::mutex> guard(processLock());
    if (!app->terminated) {
        const pid_t done = waitpid(app->pid, nullptr, WNOHANG);
        app->terminated = done == app->pid || (done < 0 && errno == ECHILD);
    }
    return app->terminated;
}
