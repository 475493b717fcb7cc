#pragma once
// What c64render checks before the module sees a file: that it can be read, that a file whose
// extension names a tune, program, image, cartridge, log or archive is one the module's readers
// take and one that then plays (data that fits below $FFFF, no MUS data, a cartridge type with
// a mapper, a disk whose first file starts), the PSID/RSID header of a tune, and whether a data
// folder holds C64 ROM images.

#include <cstdint>
#include <string>
#include <vector>

// A PSID/RSID header as the file holds it, fields in host order.
struct TuneHeader
{
    bool rsid = false;
    uint16_t version = 0;
    uint16_t dataOffset = 0;
    uint16_t loadAddress = 0;
    uint16_t initAddress = 0;
    uint16_t playAddress = 0;
    uint16_t songs = 0;
    uint16_t startSong = 0;
    uint32_t speed = 0;
    uint16_t flags = 0;  // 0 below version 2
    uint8_t secondSid = 0, thirdSid = 0;
    uint8_t modelBytes[3] = {};  // version 78: bytes 0x7B, 0x7D and 0x7F (SIDs 2 to 4)
    std::string title, author, released;  // Latin-1 turned to UTF-8

    // Flags bits 2-3: 0 unknown, 1 PAL, 2 NTSC, 3 both.
    uint32_t clock() const { return (flags >> 2) & 3u; }
    bool ntscOnly() const { return clock() == 2; }
    // The song a player starts with, from 1: the header's start song, 1 when that is 0 or
    // beyond the song count.
    uint32_t defaultSong() const { return startSong >= 1 && startSong <= songs ? startSong : 1; }
    // The models of the SIDs present, SID 1 first (each 0 unknown, 1 6581, 2 8580, 3 both).
    std::vector<uint32_t> sidModels() const;
};

// The kind of file the module will make of a path that passed checkInputFile.
enum class InputKind
{
    Other,       // handed over as it is
    Tune,        // PSID or RSID
    Program,     // programs, tapes, cartridges and D64 images: all start through the machine
    EmptyDisk,   // D81 and G64 images by their content: read, but they list no files
    Log,         // register logs and archives of them
    Instrument,  // instrument and patch files
};

struct InputFile
{
    InputKind kind = InputKind::Other;
    uint64_t size = 0;
    bool hasTune = false;  // a PSID/RSID header was read into `tune`
    TuneHeader tune;
    // The machine needs the KERNAL, BASIC and character images to start this file.
    bool mayNeedRoms() const;
};

// False with the reason (the system's text for a path that cannot be read, else what is wrong
// with the file, its size in bytes when that tells) when the module's readers would refuse the
// file, would play it as something it is not, or would start nothing from it.
bool checkInputFile(const std::string& path, InputFile& out, std::string& reason);

// The text lines of --list.
std::string tuneListing(const TuneHeader& tune);

// The KERNAL names the ROM loader tries, in its order.
const std::vector<std::string>& kernalRomNames();
// The folder holds an image of at least 8 KB under one of kernalRomNames().
bool folderHasKernal(const std::string& folder);

// "" when `path` names a folder; else the reason.
std::string folderProblem(const std::string& path);
// "" when `path` names a regular file that can be read; else the reason.
std::string readableFileProblem(const std::string& path);
// "" when `path` can be written (an existing file, or a new one in a folder that takes it);
// else the reason. Nothing is created.
std::string writableFileProblem(const std::string& path);
// Both paths name one file: the same device and inode when both exist, else the same absolute
// path once the folders that exist are resolved and "." and ".." are worked out.
bool sameFile(const std::string& a, const std::string& b);
// The extension after the last '.', in lower case; "" without one.
std::string lowerExtension(const std::string& path);
