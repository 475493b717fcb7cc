// Byte streams: the same bytes as a RAM file, a file read through stdio and a mapped file,
// driven by a script of reads, skips and seeks taken from the input's tail.

#include "fuzz/FuzzSupport.h"
#include "support/MappedFile.h"
#include "support/VirtualFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    fuzz::Bytes script(64);
    for (size_t i = 0; i < script.size(); ++i)
        script[i] = uint8_t(i * 37 + 11);
    seeds.add("script", script);
    seeds.add("text", std::string("\x10" "0123456789abcdef" "\x01\x02\x03\x04\x05\x06\x07\x08\xFF\xFF\xFF\xFF", 29));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::vector<uint8_t> content = input.ConsumeBytes<uint8_t>(input.ConsumeIntegral<uint8_t>());
    const std::string path = fuzz::writeScratch("stream.bin", content.data(), content.size());

    uint64_t length = 0;
    static volatile uint32_t sink;
    if (const uint8_t* mapped = mapFileReadOnly(path, length)) {
        for (uint64_t i = 0; i < length; ++i)
            sink = sink + mapped[i];
        unmapFile(mapped);
    }

    vantor::VirtualRAMFile ram(content.data(), content.size());
    vantor::ZRGFile file(path);
    vantor::VirtualFile* const streams[] = {&ram, &file};
    uint8_t buffer[600];
    while (input.remaining_bytes() > 0) {
        const int op = input.ConsumeIntegralInRange(0, 6);
        const int64_t offset = input.ConsumeIntegralInRange<int64_t>(-600, 600);
        for (vantor::VirtualFile* s : streams) {
            switch (op) {
            case 0: sink = uint32_t(s->read(buffer, uint64_t(offset < 0 ? -offset : offset))); break;
            case 1: sink = s->readU8(); break;
            case 2: sink = s->readU16(); break;
            case 3: sink = s->readU32(); break;
            case 4: sink = s->skip(offset); break;
            case 5: sink = s->seek(offset); break;
            default: sink = uint32_t(s->tell() + s->size()) + s->isOpen(); break;
            }
        }
    }
    return 0;
}
