#pragma once
// Running the command-line host from a test, and reading the WAV files it writes.

#include "fixtures/TempDir.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace commandline {

struct CommandResult
{
    int exitCode = -1;
    std::string output;
};

// Runs a command line, standard error folded into the output.
inline CommandResult run(const std::string& command)
{
    CommandResult r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Runs a command line on a new terminal (standard output and error); what it printed, with the
// terminal's line ends.
inline CommandResult runOnTerminal(const std::string& command)
{
    CommandResult r;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0)
        return r;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(terminal, buffer, sizeof buffer)) > 0)  // fails once the command is done
        r.output.append(buffer, size_t(n));
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// A command line run in the background (the shell replaced by it, so the process is its own),
// standard output and error folded into one pipe.
class BackgroundCommand
{
public:
    explicit BackgroundCommand(const std::string& command)
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(ends[1], STDOUT_FILENO);
            dup2(ends[1], STDERR_FILENO);
            close(ends[0]);
            close(ends[1]);
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ends[1]);
        output = ends[0];
    }
    ~BackgroundCommand()
    {
        if (pid > 0)
            stop(SIGKILL);
    }
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    bool started() const { return pid > 0; }
    // Sends `signal`, waits for the end and reads what it printed.
    CommandResult stop(int signal)
    {
        CommandResult r;
        if (pid <= 0)
            return r;
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        char buffer[4096];
        for (ssize_t n; (n = read(output, buffer, sizeof buffer)) > 0;)
            r.output.append(buffer, size_t(n));
        close(output);
        return r;
    }

private:
    pid_t pid = -1;
    int output = -1;
};

inline std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

inline std::string render(const std::string& options)
{
    return quoted(C64RENDER_PATH) + " " + options;
}

struct Wav
{
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    std::vector<float> left, right;
};

// A RIFF/WAVE reader for the float stereo files the engine writes.
inline bool readWav(const std::string& path, Wav& w)
{
    const std::string bytes = fixtures::readFile(path);
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](size_t at) {
        uint16_t v;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const size_t size = u32(at + 4);
        if (at + 8 + size > bytes.size())
            return false;
        if (id == "fmt " && size >= 16) {
            w.format = u16(at + 8);
            w.channels = u16(at + 10);
            w.rate = u32(at + 12);
            w.bits = u16(at + 22);
        } else if (id == "data" && w.channels == 2 && w.bits == 32) {
            const size_t frames = size / 8;
            w.left.resize(frames);
            w.right.resize(frames);
            for (size_t i = 0; i < frames; ++i) {
                std::memcpy(&w.left[i], bytes.data() + at + 8 + 8 * i, 4);
                std::memcpy(&w.right[i], bytes.data() + at + 12 + 8 * i, 4);
            }
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

// The names `nm -D --defined-only` lists for a shared object; empty when nm fails.
inline std::set<std::string> definedDynamicSymbols(const std::string& path)
{
    const CommandResult r = run("nm -D --defined-only " + quoted(path));
    std::set<std::string> names;
    if (r.exitCode != 0)
        return names;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.rfind(' ');
        names.insert(space == std::string::npos ? line : line.substr(space + 1));
    }
    return names;
}

}  // namespace commandline
