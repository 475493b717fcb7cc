#pragma once
// The plug-in's log file (not part of the module): one text log per process in the user's
// folder for the product. A clean close ends the file with "@"; a log without it at the next
// start is first saved under a dated name.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>

// The open log's stream; null while nothing is logged. Lines go through vantor::logLine.
extern std::atomic<std::ostream*> g_pluginStream;

namespace vantor {

// Writes kind + thread + ":" + microseconds since boot + ":" + text + "\n" to g_pluginStream
// when it is set, as one write under a lock, then flushes. The kind is "I:" or "E:".
void logLine(const char* kind, const std::string& text);
inline void logInfo(const std::string& text) { logLine("I:", text); }
inline void logError(const std::string& text) { logLine("E:", text); }

// "_SA", "_VST2X", "_VST3", "_AU", "_AAX", "_MSVCTEST", "_CLAP", "_PTEST" for 0xFA90-0xFA97,
// else "".
const char* pluginFormatSuffix(uint16_t formatCode);
// folder + "/" + product + format suffix + "_" + host name + "_Multi" (only when both multi
// bytes are non-zero) + ".log"; the host name is the text after the last "/" of the host path,
// cut before its last ".".
std::string makeLogFileName(const std::string& folder, const std::string& product, uint16_t formatCode,
                            const std::string& hostPath, uint8_t multiForm, uint8_t multiFormActive);
// asctime of the local time without its line end; with `underscores`, ":" becomes "_".
std::string logTimeText(time_t when, bool underscores);

class ConsoleLogger {
public:
    // `clock` gives the time of the time texts; time() when empty.
    explicit ConsoleLogger(std::function<time_t()> clock = {});
    // Writes the closing lines and "@" when g_pluginStream is this logger's stream, sets it to
    // null, then closes the file.
    virtual ~ConsoleLogger();
    ConsoleLogger(const ConsoleLogger&) = delete;
    ConsoleLogger& operator=(const ConsoleLogger&) = delete;

    // Opens the log (g_pluginStream then points at its stream, opened or not) and writes the
    // opening lines; true when all of it worked. A path without a folder opens nothing. An old
    // log at the path that does not end with "@" is copied to path + "_" + time + ".log" first;
    // when that copy cannot be made, the old log is kept and this run logs to
    // path + "_" + time + ".new.log".
    bool init(const std::string& path);
    bool good() const { return stream.good(); }
    const std::string& logPath() const { return path; }

private:
    std::string path;
    std::ofstream stream;
    std::function<time_t()> clock;
};

// The set-up of the process's log: the name from the user folder of vendor and product
// (setUserPathVendorProduct), the product, the format code, this process's name and the multi
// bytes; a new logger replaces (and so closes) the one held before and is initialised.
bool setUpPluginLog(const std::string& vendor, const std::string& product, uint16_t formatCode,
                    uint8_t multiForm, uint8_t multiFormActive);
// Destroys the held logger, as unloading the plug-in does.
void closePluginLog();

}  // namespace vantor
