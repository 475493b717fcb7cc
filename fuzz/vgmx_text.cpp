// VGMX text documents, from a file (large token buffer) and from a stream (small one), each over
// a song already holding a chip: a failed load must leave it as it was.

#include "fuzz/FuzzSupport.h"
#include "media/VGMX.h"
#include "support/VirtualFile.h"

#include "fixtures/ChipLogWriters.h"
#include "tests/media/VGMXTestSupport.h"

void fuzzSeeds(fuzz::Seeds& seeds)
{
    using fixtures::VgmxDocument;
    seeds.add("chips.vgmx", VgmxDocument()
                                .chip("YM2612", 7670453)
                                .write(0x2A, 0x80, 12, 1)
                                .chip("YM2612")
                                .write(0x28, 0xF0)
                                .chip("AY8910")
                                .event('W', {{"hr", "1F"}, {"bv", "00010001"}})
                                .event('R', {{"r", "300"}, {"hv", "0x7f"}})
                                .delay(882)
                                .event('I', {{"p", "-1"}, {"dt", "99999999999"}})
                                .text());
    seeds.add("sid.vgmx", VgmxDocument()
                              .raw("  <W r=\"1\" v=\"2\"/>\n")  // before any chip
                              .chip({{"id", "1"}, {"type", "6581"}, {"clock", "985248"}, {"rate", "50"}})
                              .write(24, 15, 1)
                              .chip({{"id", "x1"}, {"type", "6581"}})
                              .chip("FOO")
                              .write(4, 0x41, 2)
                              .text());
    VgmxDocument many;
    for (const char* type : {"SN76489", "SN76489", "AY8910", "AY8910", "DAC", "DAC", "YM3812", "YM3812"})
        many.chip(type).write(1, 2, 3);
    seeds.add("families.vgmx", many.text());
    seeds.add("cut.vgmx", std::string("<VGMX><Chip type=\"6581\"><W r=\"1\""));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        VGM::VGMX log;
        vgmxtest::fillSentinel(log);
        if (!log.loadXml(fuzz::writeScratch("song.vgmx", data, size)) && !vgmxtest::isSentinel(log))
            __builtin_trap();
    }
    VGM::VGMX log;
    vgmxtest::fillSentinel(log);
    vantor::VirtualRAMFile stream(data, size);
    stream.name = "stream.vgmx";
    if (!log.loadXmlStream(&stream) && !vgmxtest::isSentinel(log))
        __builtin_trap();
    return 0;
}
