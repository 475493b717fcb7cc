// Property lists, XML and binary: read, written back in both forms and read again.

#include "fuzz/PlistSeeds.h"

void fuzzSeeds(fuzz::Seeds& seeds) { fuzz::plistSeeds(seeds); }

namespace {

CFPropertyListRef read(const uint8_t* data, size_t size, CFOptionFlags options)
{
    CFDataRef bytes = CFDataCreate(kCFAllocatorDefault, data, CFIndex(size));
    CFErrorRef error = nullptr;
    CFPropertyListRef list = CFPropertyListCreateWithData(kCFAllocatorDefault, bytes, options, nullptr, &error);
    CFRelease(bytes);
    if (!list == !error)  // exactly one of them
        __builtin_trap();
    if (error)
        CFRelease(error);
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFPropertyListRef list = read(data, size, size % 2 ? kCFPropertyListMutableContainersAndLeaves
                                                       : kCFPropertyListImmutable);
    if (!list)
        return 0;
    for (const CFPropertyListFormat format : {kCFPropertyListXMLFormat_v1_0, kCFPropertyListBinaryFormat_v1_0}) {
        const fuzz::Bytes written = fuzz::plistBytes(list, format);
        if (CFPropertyListRef again = read(written.data(), written.size(), kCFPropertyListImmutable))
            CFRelease(again);
    }
    CFRelease(list);
    return 0;
}
