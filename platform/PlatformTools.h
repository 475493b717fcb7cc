#pragma once
// Everyday text, number, random, time, path and whole-file helpers shared by both deliverables.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

// Text. Bytes are compared unsigned; case mapping touches A-Z / a-z only.
void trim(const std::string& in, std::string& out);
void trim_left(const std::string& in, std::string& out);
void trim_right(const std::string& in, std::string& out);
void lowercase(const std::string& in, std::string& out);
void uppercase(const std::string& in, std::string& out);

void PRemoveNewlines(std::string& text);
void PRemoveNewlines(std::wstring& text);

// Appends the pieces between separators (empty ones too) to `out`; a text without the separator,
// or an empty separator, appends the whole text.
void PSimpleStringTokenizer(const std::string& text, const std::string& separator,
                            std::vector<std::string>& out);
void PSimpleStringTokenizer(const std::wstring& text, const std::wstring& separator,
                            std::vector<std::wstring>& out);

// Replaces every occurrence of `find`; `in` and `out` may be the same object.
void PStringReplacer(const std::string& in, std::string& out, const std::string& find,
                     const std::string& replacement);
void PStringReplacer(const std::wstring& in, std::wstring& out, const std::wstring& find,
                     const std::wstring& replacement);

std::string PXmlStringEscape(const std::string& text);

// Numbers, independent of the user's locale ("." and "," both read as the decimal mark).
double PStrtod(const char* text, const char** end = nullptr);
bool PStringToDouble(const char* text, double& out);
bool PStringToFloat(const char* text, float& out);
void PDoubleToString(std::string& out, double value, bool forceDot);
uint64_t PcompressBound(uint64_t bytes);

// Random numbers from rand(); PRandOFF makes them all 0 for the rest of the process.
extern bool g_PRandOFF;
void PRandOFF();
void Psrand(uint32_t seed);
double PUrand();
float PUrandf();
double PBrand();
float PBrandf();

// Time.
double PTimeMilli();
void PmilliSleep(uint64_t milliseconds);
double PGetCurrentTimeInSeconds();
double PGetTimeSinceBootInSeconds();

// Formats and discards: debug output is compiled out of the shipped code paths.
void PDebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Paths, as text. The extension is the text after the last "." of the whole path (folder
// separators are not looked at); the file and folder parts split at the later of the last "/"
// and the last backslash.
std::string getFileExtension(const std::string& path);
std::string stripFileExtension(const std::string& path);
std::string getFileFromPath(const std::string& path);
std::string getPathFromFile(const std::string& path);  // "." without a separator
bool pathIsRelative(const std::string& path);          // empty, or not starting with "/"
// Replaces backslash, / * ? > < | : and space with "_"; the name ends at its first zero byte.
void cleanPathName(std::string& name);
void PToPosix(const std::string& in, std::string& out);
void PToPosix(const char* in, std::string& out);
void PToPosix(const std::wstring& in, std::wstring& out);

// File information. Both existence tests are true for anything, file or folder; the flag is
// not used. A path that cannot be queried has date 0, size 0 and the time text of 0.
bool fileExists(const std::string& path, bool flag = false);
bool directoryExists(const std::string& path);
int64_t fileDate(const std::string& path);  // modification time, whole seconds since 1970
int64_t fileSize(const std::string& path);
std::string getFileTimeDetails(const std::string& path);  // "mtime : " + ctime text

// Opens a regular file for binary reading: null (or -1) for folders, FIFOs, devices and missing
// paths, without blocking on any of them.
FILE* POpenRegularFile(const std::string& path);
int POpenRegularFileDescriptor(const std::string& path);

// Whole files. Lines end at LF, CR or CR LF; the break is not part of the line.
// One line from the stream; false only for an empty line at the end of the stream.
bool getLine(std::istream& in, std::string& line);
// Appends the file's lines (each followed by "\n" in the text form); false only when the path
// is not a regular file that can be opened.
bool textInternalize(const std::string& path, std::string& text);
bool textInternalize(const std::string& path, std::vector<std::string>& lines);
// Replaces `lines` with the lines of `text`; a zero byte as the last character is dropped.
// True when at least one line came out, and for an empty text.
bool textInternalizeRAM(const std::string& text, std::vector<std::string>& lines, bool skipEmpty);
// Replaces `data` with the whole file.
bool binFileInternalize(const std::string& path, std::vector<uint8_t>& data);
// The whole file in a zero-filled buffer of (length + spare) rounded up to 16 bytes; `spare`
// becomes the number of zero bytes after the data. Null on failure (length 0 when the file could
// not be opened or measured). Release with binFileFree.
uint8_t* binFileInternalize(const std::string& path, uint64_t& length, uint64_t& spare);
uint8_t* binFileAlloc(uint64_t bytes);  // not cleared; null when it cannot be had
void binFileFree(uint8_t* buffer);
// Writes the whole buffer. A regular file (or a new one) is replaced through a temporary file
// beside it, keeping its mode: on any failure the old file stays as it was. Anything else (a
// device, a FIFO) is written in place.
bool binFileExternalize(const std::string& path, const void* data, uint64_t length);
// Reads "key <separator> value" lines (both trimmed) into the map, the last of a repeated key
// winning; with `skipComments`, lines starting with "/" or "#" are skipped.
bool createStringMap(const std::string& path, std::map<std::string, std::string>& map, char separator,
                     bool skipComments);
