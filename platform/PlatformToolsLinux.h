#pragma once
// Thin wrappers over the Linux file system behind the portable entry points of
// PlatformToolsDesktop. Paths are byte strings. The file operations make up to two attempts:
// the path when it is UTF-8 text, then its raw bytes (never for an empty path).

#include "platform/CFTools.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

enum ZRC_FindFolder : uint32_t { kFolderApplicationSupport = 0, kFolderDesktop = 1, kFolderLibrary = 2 };
enum ZRC_FindFolderDomain : uint32_t { kDomainUser = 0, kDomainLocal = 1 };

// Outcome of a copy. status: 0 copied; 2 the first attempt failed and no second could be made;
// 3 no attempt could be made; 4 the second attempt failed; 5 the second attempt had no path.
// errorCode: the errno of the failed attempt, 0 when there is none.
struct CopyFileResult {
    int32_t status;
    int32_t errorCode;
};

// Monotonic clock ticks in nanoseconds.
uint64_t wrap_absoluteTime();

// Home is $HOME, else the user database's entry; the local root L is $VANTOR_LOCAL_ROOT, else "/".
//   application support: $XDG_DATA_HOME or home/.local/share | L/Library/Application Support
//   desktop:             home/Desktop                         | (none)
//   library:             home/Library                         | L/Library
// With `create`, missing folders are created (false when that fails). False, `path` untouched,
// for an unknown folder or domain.
bool wrap_FindFolder(ZRC_FindFolder folder, ZRC_FindFolderDomain domain, std::string& path, bool create);
// True when something exists at the URL's path or the folder could be made.
bool wrap_CreateFolders(const vantor::CFURLWrapper& folder, bool intermediates);
bool wrap_FileExists(const std::string& path);
// Both remove a file or a whole folder tree (links are removed, not followed).
bool wrap_deleteFile(const std::string& path);
bool wrap_deleteDirectory(const std::string& path);
// Copies a file, link or whole folder. An existing destination is refused (EEXIST) unless
// `overwrite`, which copies beside it first and then puts the copy in its place.
CopyFileResult wrap_CopyFile(const std::string& source, const std::string& destination, bool overwrite);
// Gives referenceFolder/fileName the reference folder's mode, owner and group.
bool wrap_fixFilePermission(const std::string& referenceFolder, const std::string& fileName);
// $TMPDIR, else P_tmpdir, without a trailing "/". Always true.
bool wrap_tempDirectory(std::string& path);
// Adds the full paths (folder + "/" + item, at most 2047 bytes) of the files and folders under
// `folder` (links not followed) that match. Without extensions: an item whose extension equals
// the pattern (a leading "*." of a pattern of 3 or more characters dropped), every item for
// "*". With extensions (each shortened the same way): every item outside hidden folders and
// not hidden itself when one is "*", else the items whose extension equals one ignoring case.
// A non-zero stop flag ends the listing after the current item.
void wrap_FileLister(const std::string& folder, const std::string& pattern, std::set<std::string>& out,
                     const std::vector<std::string>& extensions, volatile int* stop);
// Adds the full paths of every folder under `folder`, hidden ones too.
void wrap_DirectoryLister(const std::string& folder, std::set<std::string>& out);

// --- user, process and desktop services ------------------------------------------------------

enum class AlertKind { Message, YesNo, OkCancel };
struct AlertRequest {
    AlertKind kind;
    std::string message;      // UTF-8
    std::string informative;  // UTF-8
    std::vector<std::string> buttons;  // "OK"; "Yes", "No"; "Ok", "Cancel"
};
// Answers an alert with the index of the chosen button.
using AlertHandler = std::function<int(const AlertRequest&)>;
// Installs the handler of every alert; an empty one restores the default, which never blocks:
// it writes the message and the informative text to standard error and to the alert log (when
// one is set) and answers the first button.
void wrap_setAlertHandler(AlertHandler handler);
// Where the default handler also writes its line; null for nowhere.
void wrap_setAlertLog(void (*writer)(const std::string& line));
// Texts that are not UTF-8 are shown empty, except that the message alert shows "OK" for an
// informative text it cannot show. The two-button alerts are false only for No and Cancel.
void popupModalMessageWindowLinux(const std::string& message, const std::string& informative);
bool popupModalYesNoWindowLinux(const std::string& message, const std::string& informative);
bool popupModalOkCancelWindowLinux(const std::string& message, const std::string& informative);

// Login name of the effective user from the user database, else $USER. Always true.
bool wrap_userName(std::string& out);
// uname's system name + " " + release. Always true.
bool wrap_osversion(std::string& out);
// Base name of the running executable. Always true.
bool wrap_processName(std::string& out);
// Appends the user's languages: the ":"-separated entries of $LANGUAGE when it is set and not
// empty, else the first non-empty of $LC_ALL, $LC_MESSAGES and $LANG; entries whose language
// (the text before the first "-", "_", "." or "@") is empty, "C" or "POSIX" are left out.
void wrap_preferredLanguages(std::vector<std::string>& out);
// The out-of-process plug-in hosts by name; else whether the environment (entries "NAME=value",
// null-terminated) holds APP_SANDBOX_CONTAINER_ID.
bool wrap_isSandboxed(const std::string& processName, const char* const* environment);
bool wrap_isProcessSandboxed();  // of this process

// Hands a file path or address to the desktop. An empty opener restores the default, which runs
// "xdg-open TEXT" without waiting; finished openers are reaped by later calls.
using DesktopOpener = std::function<void(const std::string& text)>;
void wrap_setDesktopOpener(DesktopOpener opener);
void wrap_openWithDesktop(const std::string& text);
// Opens the file with its default application; nothing for an empty path or one that is not UTF-8.
void wrap_openURL(const std::string& path);

// Starts the executable (searched in $PATH when the path has no "/") with the arguments that
// are UTF-8 text. Returns a handle kept for the life of the process, null when it could not be
// started; `out` is not written.
void* wrap_launchApplication(const std::string& path, const std::vector<std::string>& arguments,
                             std::string& out);
// True for a null handle and once the program has ended (the answer is then kept).
bool wrap_isRunningAppTerminated(void* handle);
