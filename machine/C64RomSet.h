#pragma once
// The three C64 ROM images (BASIC, KERNAL, character generator), read from files of the data
// folder under any of several common names. One process-wide set, loaded once, read by every
// machine; zeros where no file qualified.

#include <cstdint>
#include <string>

struct C64RomImages {
    uint8_t basicRom[8192] = {};
    uint8_t kernalRom[8192] = {};
    uint8_t charRom[4096] = {};
};

// For each image, the first candidate file of at least the image's size fills it (a longer
// file is cut); an image no candidate qualifies for keeps what it held.
void loadRomSet(const std::string& folder, C64RomImages& images);

// The process-wide images; zeros until loadRomSetOnce has run.
const C64RomImages& c64RomSet();
// Loads the process-wide images from the folder the first time it is called; later calls, with
// whatever folder, do nothing. Safe to call from several threads at once.
void loadRomSetOnce(const std::string& folder);
