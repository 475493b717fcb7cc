#pragma once
// The tune and media reader: recognises SID tunes (PSID, RSID), programs (PRG), tapes (T64),
// disk images (D64, D81, G64) and cartridges (CRT, raw 8 KB dumps) by their first bytes and
// size, turns every program-like format into one in-memory PSID/RSID tune, builds a C64 machine
// for it and runs that machine inside the instrument's render.

#include "machine/InputListener.h"
#include "machine/PSIDHeader.h"
#include "media/MediaReader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class C64Emu;
class DiskFile;
struct PixelCanvas;
struct SidIdPlayer;

// SID 1, 2 and 3 addresses ($Dxx0); for a wrapped program a non-zero second or third one
// replaces the tune's own.
using SidAddressList = std::array<uint16_t, 3>;

class PSIDReader : public MediaReader, public InputListener {
public:
    static constexpr uint64_t kMaxProgramBytes = 51199;  // after the load address
    static constexpr uint16_t kWrappedDataOffset = 0x7C;
    // Cartridge and G64 files beyond this size are refused before they are read.
    static constexpr uint64_t kMaxImageFile = 8u << 20;
    static constexpr const char* kTooMuchData = "too much data in file for no bankswitching!";

    // extraSidAddresses may be null and must otherwise outlive the reader; screen is handed to
    // every machine the reader builds.
    PSIDReader(MediaCallback* callback, std::string dataFolder, PixelCanvas* screen, bool ntsc,
               const SidAddressList* extraSidAddresses);
    // The machine first (its drive reads the disk image), then the cartridge bytes, the tune
    // buffer and the disk image.
    ~PSIDReader() override;

    using MediaReader::advanceTicks;
    // Runs the machine for `ticks` cycles while the last open or song start succeeded;
    // otherwise returns ticks at once.
    uint64_t advanceTicks(uint64_t ticks, double rate) override;
    // Never due as a scheduled timer.
    uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override { return kNever; }

    bool openCollection(const char*) override { return false; }
    // True when a machine was built for the file.
    bool openMedia(vantor::VirtualFile* file) override;
    bool selectSong(uint64_t song) override;
    void seek(double) override {}
    // Option 0 is the MIDI-to-keyboard mapping (1-3 pick a note table).
    void setPlayerOption(uint32_t option, int64_t value) override;
    void resetPlayback() override;
    // Values above 0.001 become the speed; the machine is given the speed in every case.
    void setSpeed(double newSpeed) override;
    void sendMidiInput(uint8_t status, uint8_t data1, uint8_t data2) override;
    void setDisplayMode(int32_t) override {}
    uint64_t getSongCount() override;
    uint64_t getStartSong() override;
    const char* getTitle(uint64_t song) override;
    const char* getAuthor(uint64_t song) override;
    const char* getReleased(uint64_t song) override;
    const char* getPlayerName(uint64_t song) override;
    const char* getPlayerReference(uint64_t song) override;
    uint64_t getChipCount() override;
    bool isDrivenByTimers() override { return false; }
    // A PSID tune's init has returned and its play routine is called.
    bool isTuneReady() override;
    void detachTimers(vantor::QuantumManager* queue) override;
    void attachTimers(vantor::QuantumManager* queue) override;

    void inputEvent(uint32_t port, uint8_t clearBits, uint8_t setBits) override;
    void pressKey(uint16_t code);
    void releaseKey(uint16_t code);

    // The tune's information text as the screen shows it when the song starts.
    std::string informationText(uint64_t song) const;

    // Inspection.
    C64Emu* getMachine() const { return machine.get(); }
    const PSIDHeader* getHeader() const { return header; }
    const uint8_t* getTuneBuffer() const { return tuneBuffer.get(); }
    uint64_t getDataSize() const { return dataSize; }
    const uint8_t* getCartImage() const { return cartImage.get(); }
    uint64_t getCartSize() const { return cartSize; }
    const DiskFile* getDiskImage() const { return diskImage.get(); }
    const SidIdPlayer* getPlayerInfo() const { return playerInfo; }
    int getKeyboardMapping() const { return keyboardMapping; }

    // What an open makes of a file before a machine is built for it.
    struct Media;

private:
    bool adopt(Media& media);
    bool startWithoutTune();

    std::unique_ptr<C64Emu> machine;
    std::unique_ptr<DiskFile> diskImage;
    std::unique_ptr<uint8_t[]> tuneBuffer;
    uint64_t tuneBufferSize = 0;
    PSIDHeader* header = nullptr;  // at the start of tuneBuffer, host byte order
    uint64_t dataSize = 0;         // bytes after the data offset
    const SidIdPlayer* playerInfo = nullptr;  // not owned
    std::unique_ptr<uint8_t[]> cartImage;
    uint64_t cartSize = 0;
    const SidAddressList* extraSidAddresses;
    PixelCanvas* screen;
    int keyboardMapping = 0;
    const bool ntsc;
    const std::string dataFolder;
    // An open built the machine; songReady: the last open or song start succeeded.
    bool opened = false;
};
