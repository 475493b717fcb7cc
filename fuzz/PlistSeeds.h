#pragma once
// Property lists for the seeds of the property-list and preferences harnesses, written as XML
// and binary by the shim itself, and a few XML texts in the forms other writers use.

#include "fuzz/FuzzSupport.h"
#include "shims/corefoundation/CoreFoundationShim.h"

namespace fuzz {

inline Bytes plistBytes(CFPropertyListRef list, CFPropertyListFormat format)
{
    CFDataRef data = CFPropertyListCreateData(kCFAllocatorDefault, list, format, 0, nullptr);
    if (!data)
        return {};
    Bytes out(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + CFDataGetLength(data));
    CFRelease(data);
    return out;
}

inline void plistSeeds(Seeds& seeds)
{
    auto text = [](const char* s) { return CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingUTF8); };
    auto put = [&](CFMutableDictionaryRef dict, const char* key, CFTypeRef value) {
        CFStringRef name = text(key);
        CFDictionarySetValue(dict, name, value);
        CFRelease(name);
        CFRelease(value);
    };
    auto dictionary = [] {
        return CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks);
    };
    // The plug-in's keys, a key path three names deep, "Root" and every kind of value.
    CFMutableDictionaryRef top = dictionary(), inner = dictionary(), deepest = dictionary(), root = dictionary();
    put(deepest, "c", text("leaf"));
    put(inner, "b", deepest);
    put(top, "a", inner);
    put(root, "x", text("1"));
    put(root, "y", text("2"));
    put(top, "Root", root);
    put(top, "base_dir", text("/Library/Application Support/Data"));
    put(top, "path", text("/Library/Audio/Plug-Ins/Engine.bundle"));
    const int64_t big = -(int64_t(1) << 40);
    put(top, "integer", CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &big));
    const double real = 2.5e-3;
    put(top, "real", CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &real));
    CFRetain(kCFBooleanTrue);
    put(top, "flag", kCFBooleanTrue);
    const uint8_t bytes[] = {0, 1, 2, 0xFF};
    put(top, "data", CFDataCreate(kCFAllocatorDefault, bytes, sizeof bytes));
    put(top, "date", CFDateCreate(kCFAllocatorDefault, 7.0e8));
    CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    CFStringRef element = text("\xC3\xBC\xE2\x82\xAC");
    CFArrayAppendValue(array, element);
    CFRelease(element);
    put(top, "array", array);
    seeds.add("dictionary.xml", plistBytes(top, kCFPropertyListXMLFormat_v1_0));
    seeds.add("dictionary.bplist", plistBytes(top, kCFPropertyListBinaryFormat_v1_0));
    CFRelease(top);

    seeds.add("doctype.xml",
              std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
                          "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
                          "<dict><!-- a comment --><key>k</key><string><![CDATA[a<b]]>&amp;&#x41;</string>"
                          "<key>empty</key><dict/><key>list</key><array><integer>-1</integer><real>1e300</real>"
                          "<true/><false/><date>2020-01-01T00:00:00Z</date><data>AAEC</data></array></dict>\n"
                          "</plist>\n"));
}

}  // namespace fuzz
