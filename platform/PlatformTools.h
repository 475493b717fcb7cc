#pragma once
// Everyday text, number, random and time helpers shared by both deliverables.

#include <cstddef>
#include <cstdint>
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
