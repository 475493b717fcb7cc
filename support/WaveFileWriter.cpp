#include "support/WaveFileWriter.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMaxRiffSize = 0xFFFFFFFFull;  // RIFF size = file length - 8

void putLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void putLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

WaveFileWriter::WaveFileWriter(FILE* s) : stream(s)
{
    if (stream)
        writePlaceholder();
}

WaveFileWriter::WaveFileWriter(const std::string& path)
{
    if (path.empty())
        return;
    stream = std::fopen(path.c_str(), "wb");
    if (stream) {
        ownsStream = true;
        writePlaceholder();
    }
}

WaveFileWriter::WaveFileWriter(const char* path)
    : WaveFileWriter(path ? std::string(path) : std::string())
{
}

WaveFileWriter::~WaveFileWriter()
{
    if (!finalized && stream)
        finalize();
    if (ownsStream && stream)
        std::fclose(stream);
}

void WaveFileWriter::writePlaceholder()
{
    uint8_t header[36] = {0xFF};
    put(header, sizeof header);
}

bool WaveFileWriter::put(const void* bytes, size_t count)
{
    return count == 0 || std::fwrite(bytes, 1, count, stream) == count;
}

bool WaveFileWriter::roomFor(uint64_t bytes)
{
    // Chunks keep 8 bytes free for the data chunk's header within the RIFF size limit.
    if (!stream || dataSizeAt != 0 || finalized)
        return false;
    const off_t at = ftello(stream);
    return at >= 0 && bytes <= kMaxRiffSize && uint64_t(at) + bytes <= kMaxRiffSize;
}

bool WaveFileWriter::writeFourCC(const char* fourcc)
{
    return stream && fourcc && put(fourcc, 4);
}

bool WaveFileWriter::writeU32(uint32_t value)
{
    uint8_t b[4];
    putLE32(b, value);
    return stream && put(b, 4);
}

bool WaveFileWriter::writeU16(uint16_t value)
{
    uint8_t b[2];
    putLE16(b, value);
    return stream && put(b, 2);
}

bool WaveFileWriter::writeChunk(uint32_t identifier, uint32_t size, const void* bytes)
{
    const uint64_t padded = uint64_t(size) + (size & 1u);
    if ((size != 0 && !bytes) || !roomFor(8 + padded))
        return false;
    static const uint8_t kZero = 0;
    return writeU32(identifier) && writeU32(uint32_t(padded)) && put(bytes, size) &&
           ((size & 1u) == 0 || put(&kZero, 1));
}

bool WaveFileWriter::writeSampler(const void* header36, const void* loop24)
{
    if (!header36 || !loop24 || !roomFor(68))
        return false;
    return writeFourCC("smpl") && writeU32(60) && put(header36, 36) && put(loop24, 24);
}

bool WaveFileWriter::writeSamplerLoop(uint32_t unityNote, uint32_t loopStart, uint32_t loopEnd)
{
    if (!roomFor(68))
        return false;
    uint8_t body[60] = {};
    putLE32(body + 3 * 4, unityNote);  // MIDI unity note
    putLE32(body + 7 * 4, 1);          // number of loops
    putLE32(body + 36 + 2 * 4, loopStart);
    putLE32(body + 36 + 3 * 4, loopEnd);
    return writeFourCC("smpl") && writeU32(60) && put(body, sizeof body);
}

bool WaveFileWriter::writeInfo(int32_t kind, const std::string& text)
{
    const uint64_t n = text.size();
    const uint64_t pad = 2 - n % 2;  // the text always ends with a zero byte
    if (kind != 0 || !roomFor(20 + n + pad))
        return false;
    static const uint8_t kZeros[2] = {};
    return writeFourCC("LIST") && writeU32(uint32_t(n + pad + 12)) && writeFourCC("INFO") &&
           writeFourCC("ICOP") && writeU32(uint32_t(n + pad)) && put(text.data(), n) &&
           put(kZeros, pad);
}

bool WaveFileWriter::writeCues(const std::vector<WaveCuePoint>& cues)
{
    const uint64_t k = cues.size();
    uint64_t labels = 0;
    for (const WaveCuePoint& c : cues)
        labels += 12 + c.label.size() + c.label.size() % 2;
    const uint64_t total = 12 + 24 * k + 12 + 28 * k + labels;
    if (!roomFor(total))
        return false;

    bool ok = writeFourCC("cue ") && writeU32(uint32_t(24 * k + 4)) && writeU32(uint32_t(k));
    for (uint32_t i = 1; ok && i <= k; ++i) {
        const uint32_t position = cues[i - 1].position;
        ok = writeU32(i) && writeU32(position) && writeFourCC("data") && writeU32(0) &&
             writeU32(0) && writeU32(position);
    }
    ok = ok && writeFourCC("LIST");
    const off_t listSizeAt = ok ? ftello(stream) : -1;
    ok = ok && listSizeAt >= 0 && writeFourCC("TEMP") && writeFourCC("adtl");
    for (uint32_t i = 1; ok && i <= k; ++i)
        ok = writeFourCC("ltxt") && writeU32(20) && writeU32(i) && writeU32(cues[i - 1].length) &&
             writeFourCC("rgn ") && writeU32(0) && writeU32(0);
    static const uint8_t kZero = 0;
    for (uint32_t i = 1; ok && i <= k; ++i) {
        const std::string& label = cues[i - 1].label;
        const uint64_t n = label.size();
        ok = writeFourCC("labl") && writeU32(uint32_t(n + n % 2 + 4)) && writeU32(i) &&
             put(label.data(), n) && (n % 2 == 0 || put(&kZero, 1));
    }
    if (!ok)
        return false;
    const off_t end = ftello(stream);
    return end >= 0 && fseeko(stream, listSizeAt, SEEK_SET) == 0 &&
           writeU32(uint32_t(end - listSizeAt - 4)) && fseeko(stream, end, SEEK_SET) == 0;
}

bool WaveFileWriter::startData()
{
    const off_t at = ftello(stream);
    if (at < 0 || uint64_t(at) > kMaxRiffSize || !writeFourCC("data"))
        return false;
    dataSizeAt = dataEnd = uint64_t(at) + 4;
    return writeU32(0xFFFFFFFFu);
}

size_t WaveFileWriter::beginData(uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample,
                                 uint32_t floatFlag)
{
    if (!stream || dataSizeAt != 0 || finalized)
        return 0;
    const uint16_t bits = uint16_t(bitsPerSample);
    format.sampleRate = sampleRate;
    format.channels = uint16_t(channels);
    format.bitsPerSample = bits;
    format.blockAlign = uint16_t(((bits >> 3) & 0x1FFFu) * channels);
    format.bytesPerSecond = uint32_t(format.blockAlign) * sampleRate;
    if (bits == 4)
        format.formatTag = 17;
    else if (bits == 32)
        format.formatTag = uint16_t(1 + 2 * (floatFlag & 0xFFu));
    else
        format.formatTag = 1;
    return startData() ? 1 : 0;
}

uint64_t WaveFileWriter::writeSamples(const void* bytes, uint64_t count)
{
    if (!stream || dataSizeAt == 0 || finalized || !bytes)
        return 0;
    const uint64_t room = kMaxRiffSize + 4 - dataEnd;
    const uint64_t n = std::min(count, room);
    const uint64_t written = n ? std::fwrite(bytes, 1, n, stream) : 0;
    dataEnd += written;
    return written;
}

uint64_t WaveFileWriter::writeInterleavedStereo(const void* left, const void* right,
                                                uint64_t frames)
{
    const size_t b = format.bitsPerSample / 8u;
    if (!stream || dataSizeAt == 0 || finalized || !left || !right || b == 0)
        return 0;
    const uint64_t frameBytes = 2 * b;
    frames = std::min(frames, (kMaxRiffSize + 4 - dataEnd) / frameBytes);
    const uint64_t batchFrames = std::max<uint64_t>(1, 8192 / frameBytes);
    std::vector<uint8_t> batch(batchFrames * frameBytes);
    auto* l = static_cast<const uint8_t*>(left);
    auto* r = static_cast<const uint8_t*>(right);
    uint64_t done = 0;
    while (done < frames) {
        const uint64_t n = std::min(batchFrames, frames - done);
        uint8_t* out = batch.data();
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(out, l, b);
            std::memcpy(out + b, r, b);
            out += frameBytes;
            l += b;
            r += b;
        }
        const size_t bytes = size_t(n * frameBytes);
        const size_t written = std::fwrite(batch.data(), 1, bytes, stream);
        dataEnd += written;
        done += written / frameBytes;
        if (written != bytes)
            break;
    }
    return done;
}

bool WaveFileWriter::finalize()
{
    if (!stream)
        return false;
    bool ok = true;
    if (dataSizeAt == 0 && !finalized)
        ok = startData();
    finalized = true;
    if (dataSizeAt == 0)
        return false;

    uint8_t fmt[16];
    putLE16(fmt, format.formatTag);
    putLE16(fmt + 2, format.channels);
    putLE32(fmt + 4, format.sampleRate);
    putLE32(fmt + 8, format.bytesPerSecond);
    putLE16(fmt + 12, format.blockAlign);
    putLE16(fmt + 14, format.bitsPerSample);

    ok = fseeko(stream, off_t(dataSizeAt), SEEK_SET) == 0 &&
         writeU32(uint32_t(dataEnd - dataSizeAt)) && ok;
    ok = fseeko(stream, 0, SEEK_SET) == 0 && writeFourCC("RIFF") &&
         writeU32(uint32_t(dataEnd - 4)) && writeFourCC("WAVE") && writeFourCC("fmt ") &&
         writeU32(16) && put(fmt, sizeof fmt) && ok;
    return std::fflush(stream) == 0 && ok;
}
