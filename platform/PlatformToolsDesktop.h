#pragma once
// Portable entry points: standard folders, temporary names, folder creation, copies, deletion,
// rights and volume identity; alerts, the user, the process and the desktop.

#include "platform/PlatformToolsLinux.h"

#include <cstdint>
#include <string>
#include <vector>

// Monotonic ticks that grow on every call in this process.
uint64_t PUniqueTicks();

std::string getTempDir();  // cached at first use
// getTempDir() + "/zrg" + unique ticks + suffix; nothing is created. Callers that create the
// file create it exclusively.
std::string makeTempFileName(const std::string& suffix);
// Whether a probe file can be created in the folder (and is removed again).
bool directoryWriteAccess(const std::string& folder);

std::string getUserPath();     // user application-support folder, or empty
std::string getUserDesktop();  // or empty
// Application support + "/" + vendor + "/" + product, created as needed; empty on failure.
std::string setUserPathVendorProduct(const std::string& vendor, const std::string& product);
std::string getSandboxResourcePath();  // always empty

bool PDeleteFile(const std::string& path);  // unlink
bool PDeleteDirectory(const std::string& path);
CopyFileResult PCopyFile(const std::string& source, const std::string& destination, bool overwrite);
// 0 when the folder exists or was made (parents first), 2 when it could not be made.
int PCreateDir(const std::string& path);
bool fixFilePermission(const std::string& referenceFolder, const std::string& fileName);
// "file://" + the mount point holding the path + "/"; false when the path cannot be queried.
bool PGetVolumeUIDForPath(const std::string& path, std::string& out, bool isFolder);
// The path as UTF-8 (through 1024 bytes); the input unchanged when that fails.
std::string localToFileSystem(const std::string& path);

bool PGzipFile(const std::string& source, const std::string& destination);  // always false
// No digest is computed: always an empty text.
std::string PCalcMD5(const std::string& text);
std::string PCalcMD5(const void* data, uint64_t size);

// Alerts go through wrap_setAlertHandler's handler; the parent and the flag are not used.
void popupModalMessageWindow(void* parent, const std::string& message, const std::string& informative);
bool popupModalYesNoWindow(void* parent, const std::string& message, const std::string& informative,
                           bool flag);  // false only for No
bool popupModalOkCancelWindow(void* parent, const std::string& message,
                              const std::string& informative);  // false only for Cancel

std::string getUserName();
// Appends the language code of each preferred language (the text before its first "-", "_",
// "." or "@"; entries of 64 bytes or more are skipped); duplicates are kept. Without any
// language, appends "en" and returns false.
bool getUserLanguageList(std::vector<std::string>& languages);
// The process name (not a path); see PApplicationName.
std::string PGetCurrentApplicationPath(void* handle);
// The name itself, or "dummy" with a message on standard error when it is empty.
std::string PApplicationName(const std::string& processName);
std::string PGetCurrentModulePath(void* handle);  // always "/NOCLUE"

void startEditor(const std::string& path);       // wrap_openURL
void startBrowser(const std::string& address);   // to the desktop opener when it is ASCII text
bool launchProgram(const std::string& command);  // starts nothing: false
bool launchProgramWait(const std::string& program, const std::string& arguments, int count);  // false
bool launchProgramRedir(const std::string& program, const std::string& arguments, const std::string& output,
                        int count);  // false
double getPlatformScale();  // 1.0
