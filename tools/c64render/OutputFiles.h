#pragma once
// The files c64render writes. Each is written under a temporary name in its own folder and
// renamed into place by commit(); until then a file of the final name stays as it was. The
// temporary files go again when the render fails (the destructor) or when SIGINT, SIGTERM,
// SIGHUP or SIGPIPE arrives: the handler removes them, says "c64render: interrupted" and exits
// with 128 + the signal number.

#include <memory>
#include <string>
#include <vector>

class OutputFiles
{
public:
    // Room for -o, --canvas, --export, --syx and --log.
    static constexpr size_t kMaxFiles = 8;

    OutputFiles() = default;
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;
    ~OutputFiles() { discard(); }

    // Installs the signal handlers (a signal the process was started ignoring stays ignored).
    static void catchSignals();
    // A progress line without its line end is on standard error: the handler ends it first.
    static void setLineOpen(bool open);

    // The path to write in place of `path`: a new empty temporary file beside it, with the same
    // extension, or `path` itself when it names something other than a regular file (a device
    // such as /dev/null). "" with the reason when the file cannot be written.
    std::string add(const std::string& path, std::string& error);
    // Renames every temporary file onto its final name, signals held off meanwhile. False with
    // the reason at the first that fails; the others are then discarded.
    bool commit(std::string& error);
    // Removes the temporary files.
    void discard();
    // `path` is a temporary file add() made and commit() has not yet renamed.
    bool isTemporary(const std::string& path) const;

private:
    struct File
    {
        std::string final;
        std::string temporary;  // empty: written in place
        size_t slot = 0;
    };
    std::vector<std::unique_ptr<File>> files;
};
