#include "media/Asid.h"

#include <bit>

using namespace asid;

ASIDReceiver::ASIDReceiver(MediaCallback* l, uint32_t kind)
    : handlers{&ASIDReceiver::onWaitStart, &ASIDReceiver::onManufacturer, &ASIDReceiver::onCommand,
               &ASIDReceiver::onWaitEnd,   &ASIDReceiver::onText,         &ASIDReceiver::onPayload,
               &ASIDReceiver::onError},
      listener(l),
      chipKind(kind)
{
    registers.reserve(kMaxPayload);
    text.reserve(kMaxText);
}

void ASIDReceiver::reset()
{
    state = kWaitStart;
    text.clear();
    registers.clear();
}

void ASIDReceiver::feedMessage(const uint8_t* bytes, uint64_t length)
{
    reset();
    for (uint64_t i = 0; i < length; ++i)
        feed(bytes[i]);
}

void ASIDReceiver::onWaitStart(uint8_t b)
{
    if (b == kSysExStart)
        state = kWaitManufacturer;
}

void ASIDReceiver::onManufacturer(uint8_t b)
{
    state = b == kManufacturer ? kCommand : kError;
}

void ASIDReceiver::onCommand(uint8_t b)
{
    switch (b) {
    case kStart:
        if (listener)
            listener->addChip(chipKind, 0, kStartEventRate);
        state = kWaitEnd;
        break;
    case kStop:
        if (listener)
            listener->releaseAllGates(chipKind);
        state = kWaitEnd;
        break;
    case kRegisters:
        state = kPayload;
        break;
    case kText:
        state = kTextBytes;
        break;
    case kLastCommand:  // no action: skipped to its F7
        state = kWaitEnd;
        break;
    default:
        state = kError;
        break;
    }
}

void ASIDReceiver::onWaitEnd(uint8_t b)
{
    state = b == kSysExEnd ? kWaitStart : kError;
}

void ASIDReceiver::onText(uint8_t b)
{
    if (b == kSysExEnd) {
        if (listener)
            listener->setDisplayText(text.c_str());
        state = kWaitStart;
    } else if (b >= 0x80) {
        state = kError;
    } else if (text.size() < kMaxText) {
        text.push_back(char(b));
    }
}

void ASIDReceiver::onPayload(uint8_t b)
{
    if (b != kSysExEnd) {
        if (registers.size() >= kMaxPayload) {
            registers.clear();
            state = kError;
        } else {
            registers.push_back(b);
        }
        return;
    }
    const bool decoded = listener && decodeAsidRegisters(registers.data(), registers.size(), *listener, chipKind);
    if (listener)
        listener->captureRegisters(0);
    registers.clear();
    state = decoded ? kWaitStart : kError;
}

void ASIDReceiver::onError(uint8_t /*b*/) {}

bool decodeAsidRegisters(const uint8_t* payload, size_t length, MediaCallback& listener,
                         uint32_t chipKind)
{
    if (!payload || length < kHeaderBytes)
        return false;
    size_t n = 0;
    for (size_t i = 0; i < kMaskBytes; ++i)
        n += size_t(std::popcount(payload[i]));
    if (length - kHeaderBytes != n)
        return false;
    const uint8_t* data = payload + kHeaderBytes;
    for (size_t i = 0; i < kMaskBytes; ++i)
        for (unsigned b = 0; b < 7; ++b) {
            if (!(payload[i] >> b & 1))
                continue;
            const uint32_t value = *data++ | (payload[kMaskBytes + i] >> b & 1u) << 7;
            listener.writeMediaRegister(chipKind, 0, 0, kRegisterAt[7 * i + b], value, 0.0);
        }
    return true;
}

namespace {

void appendHead(uint8_t command, std::vector<uint8_t>& out)
{
    out.push_back(kSysExStart);
    out.push_back(kManufacturer);
    out.push_back(command);
}

// First position of `reg` in the register order, or kRegisterCount when it has none.
size_t positionOf(uint8_t reg)
{
    for (size_t p = 0; p < kRegisterCount; ++p)
        if (kRegisterAt[p] == reg)
            return p;
    return kRegisterCount;
}

}  // namespace

bool buildAsidStart(std::vector<uint8_t>& out)
{
    appendHead(kStart, out);
    out.push_back(kSysExEnd);
    return true;
}

bool buildAsidStop(std::vector<uint8_t>& out)
{
    appendHead(kStop, out);
    out.push_back(kSysExEnd);
    return true;
}

bool buildAsidText(const uint8_t* text, size_t length, std::vector<uint8_t>& out)
{
    appendHead(kText, out);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] >= 0x80)
            return false;
        out.push_back(text[i]);
    }
    out.push_back(kSysExEnd);
    return true;
}

bool buildAsidRegisters(const uint8_t* image, std::vector<uint8_t>& out)
{
    appendHead(kRegisters, out);
    for (const uint8_t mask : {0x7F, 0x7F, 0x7F, 0x0F})
        out.push_back(mask);
    uint8_t msb[kMaskBytes] = {};
    for (size_t p = 0; p < kRegisterCount; ++p)
        msb[p / 7] |= uint8_t((image[kRegisterAt[p]] >> 7) << (p % 7));
    out.insert(out.end(), std::begin(msb), std::end(msb));
    for (size_t p = 0; p < kRegisterCount; ++p)
        out.push_back(image[kRegisterAt[p]] & 0x7F);
    out.push_back(kSysExEnd);
    return true;
}

bool buildAsidRegister(uint8_t reg, uint8_t value, std::vector<uint8_t>& out)
{
    const size_t p = positionOf(reg);
    if (p == kRegisterCount) {
        out.clear();
        return false;
    }
    const uint8_t bit = uint8_t(1u << (p % 7));
    appendHead(kRegisters, out);
    for (size_t i = 0; i < kMaskBytes; ++i)
        out.push_back(i == p / 7 ? bit : 0);
    for (size_t i = 0; i < kMaskBytes; ++i)
        out.push_back(i == p / 7 && (value & 0x80) ? bit : 0);
    out.push_back(value & 0x7F);
    out.push_back(kSysExEnd);
    return true;
}
