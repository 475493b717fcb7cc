#include "platform/PlatformToolsDesktop.h"

#include "platform/PlatformTools.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

uint64_t PUniqueTicks()
{
    static std::atomic<uint64_t> last{0};
    uint64_t previous = last.load(std::memory_order_relaxed);
    uint64_t next;
    do {
        const uint64_t now = wrap_absoluteTime();
        next = now > previous ? now : previous + 1;
    } while (!last.compare_exchange_weak(previous, next, std::memory_order_relaxed));
    return next;
}

std::string getTempDir()
{
    static const std::string folder = [] {
        std::string path;
        wrap_tempDirectory(path);
        return path;
    }();
    return folder;
}

std::string makeTempFileName(const std::string& suffix)
{
    return getTempDir() + "/zrg" + std::to_string(PUniqueTicks()) + suffix;
}

bool directoryWriteAccess(const std::string& folder)
{
    if (folder.empty())
        return false;
    const std::string probe = folder + "/ zrg" + std::to_string(PUniqueTicks()) + ".tmp";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::string getUserPath()
{
    std::string path;
    return wrap_FindFolder(kFolderApplicationSupport, kDomainUser, path, false) ? path : std::string();
}

std::string getUserDesktop()
{
    std::string path;
    return wrap_FindFolder(kFolderDesktop, kDomainUser, path, false) ? path : std::string();
}

std::string setUserPathVendorProduct(const std::string& vendor, const std::string& product)
{
    std::string folder;
    if (!wrap_FindFolder(kFolderApplicationSupport, kDomainUser, folder, false))
        return std::string();
    const std::string path = folder + "/" + vendor + "/" + product;
    const vantor::CFURLWrapper url(path.data(), path.size(), true);
    return wrap_CreateFolders(url, true) ? path : std::string();
}

std::string getSandboxResourcePath() { return std::string(); }

bool PDeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool PDeleteDirectory(const std::string& path) { return wrap_deleteDirectory(path); }

CopyFileResult PCopyFile(const std::string& source, const std::string& destination, bool overwrite)
{
    return wrap_CopyFile(source, destination, overwrite);
}

int PCreateDir(const std::string& path)
{
    const std::string parent = getPathFromFile(path);
    if (!parent.empty() && !fileExists(parent, false)) {
        if (parent == path)
            return 2;  // a missing "." has nothing above it to make
        if (const int status = PCreateDir(parent))
            return status;
    }
    const vantor::CFStringWrapper text(path, CFStringGetSystemEncoding(), false);
    const vantor::CFURLWrapper url(text.getCFStringRef(), true);
    return wrap_CreateFolders(url, false) ? 0 : 2;
}

bool fixFilePermission(const std::string& referenceFolder, const std::string& fileName)
{
    return wrap_fixFilePermission(referenceFolder, fileName);
}

bool PGetVolumeUIDForPath(const std::string& path, std::string& out, bool isFolder)
{
    const vantor::CFStringWrapper pathText(path, kCFStringEncodingUTF8, false);
    if (!pathText.getCFStringRef())
        return false;
    const vantor::CFURLWrapper url(pathText.getCFStringRef(), isFolder);
    if (!url.getCFURLRef())
        return false;
    CFTypeRef volume = nullptr;
    CFErrorRef error = nullptr;
    const bool found =
        CFURLCopyResourcePropertyForKey(url.getCFURLRef(), kCFURLVolumeURLKey, &volume, &error);
    if (error)
        CFRelease(error);
    if (!found || !volume) {
        if (volume)
            CFRelease(volume);
        return false;
    }
    char buffer[1024] = {};
    CFStringRef text = CFURLGetString(static_cast<CFURLRef>(volume));  // owned by the URL
    const bool copied = CFStringGetCString(text, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(volume);
    if (!copied)
        return false;
    buffer[sizeof buffer - 1] = 0;
    out = buffer;
    return true;
}

std::string localToFileSystem(const std::string& path)
{
    const vantor::CFStringWrapper text(path, CFStringGetSystemEncoding(), false);
    std::string out;
    return text.getCStringPath(out, kCFStringEncodingUTF8) ? out : path;
}

bool PGzipFile(const std::string&, const std::string&) { return false; }

std::string PCalcMD5(const std::string&) { return std::string(); }

std::string PCalcMD5(const void*, uint64_t) { return std::string(); }

void popupModalMessageWindow(void*, const std::string& message, const std::string& informative)
{
    popupModalMessageWindowLinux(message, informative);
}

bool popupModalYesNoWindow(void*, const std::string& message, const std::string& informative, bool)
{
    return popupModalYesNoWindowLinux(message, informative);
}

bool popupModalOkCancelWindow(void*, const std::string& message, const std::string& informative)
{
    return popupModalOkCancelWindowLinux(message, informative);
}

std::string getUserName()
{
    std::string name;
    wrap_userName(name);
    return name;
}

bool getUserLanguageList(std::vector<std::string>& languages)
{
    std::vector<std::string> preferred;
    wrap_preferredLanguages(preferred);
    if (preferred.empty()) {
        languages.push_back("en");
        return false;
    }
    for (const std::string& entry : preferred)
        if (entry.size() < 64)  // what a 64-byte buffer holds
            languages.push_back(entry.substr(0, entry.find_first_of("-_.@")));
    return true;
}

std::string PApplicationName(const std::string& processName)
{
    if (!processName.empty())
        return processName;
    fputs("wrap_processName failed or gave empty name, dummy case\n", stderr);
    return "dummy";
}

std::string PGetCurrentApplicationPath(void*)
{
    std::string name;
    wrap_processName(name);
    return PApplicationName(name);
}

std::string PGetCurrentModulePath(void*) { return "/NOCLUE"; }

void startEditor(const std::string& path) { wrap_openURL(path); }

void startBrowser(const std::string& address)
{
    const bool ascii = std::all_of(address.begin(), address.end(),
                                   [](char c) { return c != 0 && static_cast<unsigned char>(c) < 0x80; });
    if (!address.empty() && ascii)
        wrap_openWithDesktop(address);
}

bool launchProgram(const std::string&) { return false; }

bool launchProgramWait(const std::string&, const std::string&, int) { return false; }

bool launchProgramRedir(const std::string&, const std::string&, const std::string&, int) { return false; }

double getPlatformScale() { return 1.0; }
