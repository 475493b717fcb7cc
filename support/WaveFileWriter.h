#pragma once
// Streams audio into a RIFF/WAVE file whose header is reserved up front and completed on
// `finalize`. Optional chunks (sampler, copyright text, cue points, raw chunks) go before the
// sample data. Every number in the file is little-endian; no 32-bit size ever wraps.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Body of the "fmt " chunk.
struct WaveFormat
{
    uint16_t formatTag = 1;  // 1 PCM, 3 IEEE float, 17 IMA ADPCM
    uint16_t channels = 1;
    uint32_t sampleRate = 44100;
    uint32_t bytesPerSecond = 88200;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
};

struct WaveCuePoint
{
    uint32_t position = 0;  // sample frame
    uint32_t length = 0;    // sample frames of the region
    std::string label;
};

class WaveFileWriter
{
public:
    // Writes at the stream's current position; the stream stays the caller's.
    explicit WaveFileWriter(FILE* stream);
    // Creates the file; an empty path or a null text opens nothing.
    explicit WaveFileWriter(const std::string& path);
    explicit WaveFileWriter(const char* path);
    // Finalizes when not done yet; closes only a file it opened.
    virtual ~WaveFileWriter();

    WaveFileWriter(const WaveFileWriter&) = delete;
    WaveFileWriter& operator=(const WaveFileWriter&) = delete;

    bool isOpen() const { return stream != nullptr; }
    const WaveFormat& getFormat() const { return format; }

    // Chunk writers: refused (false, nothing written) without a stream, once the data chunk has
    // begun, or when the chunk would take the file past 4 GiB; false when a write fails.
    // `identifier` holds the four characters in little-endian memory order.
    bool writeChunk(uint32_t identifier, uint32_t size, const void* bytes);
    bool writeSampler(const void* header36, const void* loop24);
    bool writeSamplerLoop(uint32_t unityNote, uint32_t loopStart, uint32_t loopEnd);
    // Only kind 0 (an "ICOP" copyright item in LIST/INFO) is defined.
    bool writeInfo(int32_t kind, const std::string& text);
    bool writeCues(const std::vector<WaveCuePoint>& cues);

    // Raw values at the current position; true when every byte was written.
    bool writeFourCC(const char* fourcc);
    bool writeU32(uint32_t value);
    bool writeU16(uint16_t value);

    // Sets the format and starts the "data" chunk; returns 1 when its header was written, 0 when
    // refused (no stream, already begun) or failed.
    size_t beginData(uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample,
                     uint32_t floatFlag);
    // Sample bytes after `beginData`; returns the bytes written, cut where the RIFF size would
    // pass 0xFFFFFFFF.
    uint64_t writeSamples(const void* bytes, uint64_t count);
    // Interleaves two channels of bitsPerSample / 8 bytes each; returns the whole frames written.
    uint64_t writeInterleavedStereo(const void* left, const void* right, uint64_t frames);

    // Completes the header (with an empty "data" chunk when none was begun); false when a seek,
    // write or the flush failed. Sample writes are refused afterwards.
    bool finalize();

protected:
    bool put(const void* bytes, size_t count);
    bool roomFor(uint64_t bytes);
    bool startData();
    void writePlaceholder();

    FILE* stream = nullptr;
    bool ownsStream = false;
    WaveFormat format;
    uint64_t dataEnd = 0;     // data size field position + sample bytes written
    uint64_t dataSizeAt = 0;  // data size field position; 0 before the data chunk
    bool finalized = false;
};
