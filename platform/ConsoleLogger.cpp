#include "platform/ConsoleLogger.h"

#include "platform/PlatformTools.h"
#include "platform/PlatformToolsDesktop.h"
#include "platform/ZRGSConv.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>

std::atomic<std::ostream*> g_pluginStream{nullptr};

namespace vantor {

namespace {

// Defined before the logger so that they outlive it at exit.
std::mutex g_lineLock;
constexpr char kRule[] = "-------------------------------------------------------------------------------";
static_assert(sizeof kRule == 79 + 1);

std::unique_ptr<ConsoleLogger> g_logger;

uint64_t microsecondsSinceBoot()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void alertToLog(const std::string& line) { logLine("I:", line); }

bool isFolder(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the file's last byte is "@"; false when it cannot be read.
bool endsClean(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.seekg(-1, std::ios::end))
        return false;
    char last = 0;
    return in.get(last) && last == '@';
}

}  // namespace

void logLine(const char* kind, const std::string& text)
{
    if (!g_pluginStream.load())
        return;
    std::string line = kind;
    line += std::to_string(static_cast<unsigned long>(pthread_self()));
    line += ':';
    line += std::to_string(microsecondsSinceBoot());
    line += ':';
    line += text;
    line += '\n';
    const std::lock_guard<std::mutex> guard(g_lineLock);
    if (std::ostream* stream = g_pluginStream.load()) {
        stream->write(line.data(), std::streamsize(line.size()));
        stream->flush();
    }
}

const char* pluginFormatSuffix(uint16_t formatCode)
{
    static const char* const kSuffixes[] = {"_SA",  "_VST2X",    "_VST3", "_AU",
                                            "_AAX", "_MSVCTEST", "_CLAP", "_PTEST"};
    return formatCode >= 0xFA90 && formatCode <= 0xFA97 ? kSuffixes[formatCode - 0xFA90] : "";
}

std::string makeLogFileName(const std::string& folder, const std::string& product, uint16_t formatCode,
                            const std::string& hostPath, uint8_t multiForm, uint8_t multiFormActive)
{
    std::string host = hostPath.substr(hostPath.rfind('/') + 1);  // npos + 1 == 0
    if (const size_t dot = host.rfind('.'); dot != std::string::npos)
        host.erase(dot);
    return folder + "/" + product + pluginFormatSuffix(formatCode) + "_" + host +
        (multiForm && multiFormActive ? "_Multi" : "") + ".log";
}

std::string logTimeText(time_t when, bool underscores)
{
    struct tm local{};
    char raw[128] = {};
    std::string out;
    if (localtime_r(&when, &local) && asctime_r(&local, raw))
        out.assign(raw, strnlen(raw, 79));  // at most 79 bytes are kept
    if (!out.empty())
        out.pop_back();  // the line end
    if (underscores)
        for (char& c : out)
            if (c == ':')
                c = '_';
    return out;
}

ConsoleLogger::ConsoleLogger(std::function<time_t()> clockSource)
    : clock(clockSource ? std::move(clockSource) : [] { return time(nullptr); })
{
}

ConsoleLogger::~ConsoleLogger()
{
    const std::string stamp = logTimeText(clock(), false);
    if (g_pluginStream.load() == &stream) {
        wrap_setAlertLog(nullptr);
        logLine("I:", kRule);
        logLine("I:", ZRGSConv(path, ENC_UTF8) + " closed on: " + stamp);
        const std::lock_guard<std::mutex> guard(g_lineLock);
        stream << '@';
        stream.flush();
        g_pluginStream.store(nullptr);
    }
    stream.close();
}

bool ConsoleLogger::init(const std::string& logPath)
{
    path = logPath;
    const std::string stamp = logTimeText(clock(), true);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {  // no folder: never a log at the root
        stream.setstate(std::ios::failbit);  // as a failed open: writers see the error
        g_pluginStream.store(&stream);
        return false;
    }
    if (fileSize(path) > 0 && !endsClean(path)) {
        // The last run did not close its log: keep it under a dated name.
        const std::string copy = path + "_" + ZRGSConv(stamp, ENC_UTF8) + ".log";
        if (isFolder(copy) || PCopyFile(path, copy, true).status != 0)
            path += "_" + stamp + ".new.log";
    }
    stream.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    g_pluginStream.store(&stream);
    if (!stream.good())
        return false;
    std::ostringstream address;
    address << static_cast<const void*>(static_cast<std::ostream*>(&stream));
    logLine("I:", "g_pluginStream:" + address.str());
    if (stream.good()) {
        logLine("I:", ZRGSConv(path, ENC_UTF8) + " opened on: " + stamp + " BUILD:" + __DATE__);
        logLine("I:", kRule);
    }
    wrap_setAlertLog(&alertToLog);
    return stream.good();
}

bool setUpPluginLog(const std::string& vendor, const std::string& product, uint16_t formatCode,
                    uint8_t multiForm, uint8_t multiFormActive)
{
    const std::string folder =
        setUserPathVendorProduct(ZRGSConv(vendor, ENC_UTF8), ZRGSConv(product, ENC_UTF8));
    const std::string name = makeLogFileName(folder, product, formatCode, PGetCurrentApplicationPath(nullptr),
                                             multiForm, multiFormActive);
    g_logger = std::make_unique<ConsoleLogger>();
    return g_logger->init(name);
}

void closePluginLog() { g_logger.reset(); }

}  // namespace vantor
