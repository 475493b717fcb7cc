#pragma once
// Thin wrappers over the Linux file system behind the portable entry points of
// PlatformToolsDesktop. Paths are byte strings. The file operations make up to two attempts:
// the path when it is UTF-8 text, then its raw bytes (never for an empty path).

#include "platform/CFTools.h"

#include <cstdint>
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
