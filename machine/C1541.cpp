#include "machine/C1541.h"

#include "machine/DirectoryListing.h"

#include <utility>

namespace {

// Cycles of the protocol's waits.
constexpr uint64_t kAtnResponse = 50;    // ATN seen -> DATA pulled
constexpr uint64_t kListenerReady = 130;  // talker ready -> DATA released
constexpr uint64_t kEoiWait = 200;       // no CLK after ready-for-data: end-or-identify
constexpr uint64_t kEoiAckHold = 73;     // DATA held to acknowledge end-or-identify
constexpr uint64_t kByteAckDelay = 11;   // last bit -> DATA pulled
constexpr uint64_t kTalkDelay = 200;     // CLK held after the turnaround
constexpr uint64_t kBitSetup = 115;      // CLK pulled -> bit valid (CLK released)
constexpr uint64_t kBitHold = 75;        // CLK released -> next bit

constexpr uint32_t kDriveNumber = 8;
constexpr size_t kNameReserve = 256;  // names up to this length grow without allocating

struct DriveDummyFiles {
    DiskFileEntry program;
    DiskFileEntry status;
};

const DriveDummyFiles& initDriveDummyFiles()
{
    static const DriveDummyFiles files = [] {
        DriveDummyFiles f;
        // 10 PRINT"TEST ONE TWO VANTOR 2022"; the link is kept as stored, the line ends at $0820.
        f.program.bytes = {0x01, 0x08, 0x14, 0x08, 0x0A, 0x00, 0x99, 0x22};
        const std::string text = "TEST ONE TWO VANTOR 2022";
        f.program.bytes.insert(f.program.bytes.end(), text.begin(), text.end());
        f.program.bytes.insert(f.program.bytes.end(), {0x22, 0x00, 0x00, 0x00});
        f.program.name = "DUMMY";
        f.program.type = 1;
        f.status.bytes = {'0', '0', ',', ' '};
        f.status.name = "DUMMY";
        f.status.type = 1;
        return f;
    }();
    return files;
}

}  // namespace

const std::array<C1541::StateHandler, C1541::cSTATE_COUNT + 1> C1541::kStateTable = {
    &C1541::stateIdle,
    &C1541::stateWaitAtnResponseRequired,
    &C1541::stateWaitTalkerReady,
    &C1541::stateListenerReadyDelay,
    &C1541::stateWaitFirstBit,
    &C1541::stateReceiveBits,
    &C1541::stateWaitByteEnd,
    &C1541::stateAcknowledgeByte,
    &C1541::stateEoiAcknowledge,
    &C1541::stateTurnaround,
    &C1541::stateTalkDelay,
    &C1541::stateWaitListenerReady,
    &C1541::stateSendBit,
    &C1541::stateBitValid,
    &C1541::stateByteDone,
    &C1541::stateWaitByteAck,
    &C1541::stateWaitNextByte,
    &C1541::stateWaitEoiAck,
    &C1541::stateWaitEoiAckEnd,
    nullptr,
};

C1541::C1541(std::string tag, cbm_iec_host_device* bus)
    : cbm_iec_slot_device(std::move(tag), bus), stateHandlers(kStateTable)
{
    deviceNumber = kDriveNumber;
    channelName.reserve(kNameReserve);
    const DriveDummyFiles& dummies = initDriveDummyFiles();
    programDummy = &dummies.program;
    statusDummy = &dummies.status;
}

const DiskFileEntry& C1541::dummyProgramFile() { return initDriveDummyFiles().program; }
const DiskFileEntry& C1541::dummyStatusFile() { return initDriveDummyFiles().status; }

void C1541::setDisk(const DiskFile* image)
{
    disk = image;
    // Room for the listing, so that LOAD"$" allocates nothing while the machine runs.
    const size_t listingBytes = 64 + 32 * (image ? image->files.size() : 0);
    for (DiskFileEntry& slot : listingSlots)
        slot.bytes.reserve(listingBytes);
}

void C1541::timerExpired()
{
    // Every timer row sets the next timer or none.
    setTimer(kNoTimer);
    dispatch(cEVENT_TIMER);
}

void C1541::atnChanged(int level)
{
    dispatch(level ? cEVENT_ATN_RELEASED : cEVENT_ATN_ASSERTED);
    atnAsserted = level == 0;
}

void C1541::clkChanged(int level)
{
    clkLevel = uint32_t(level) & 1;
    if (!drivingClk)
        dispatch(level ? cEVENT_CLK_RELEASED : cEVENT_CLK_ASSERTED);
}

void C1541::dataChanged(int level)
{
    dataLevel = uint32_t(level) & 1;
    if (!drivingData)
        dispatch(level ? cEVENT_DATA_RELEASED : cEVENT_DATA_ASSERTED);
}

void C1541::driveClk(int level)
{
    if (cbm_iec_host_device* host = iecBus()) {
        drivingClk = true;
        host->setIecLine(this, IEC_CLK, level);
        drivingClk = false;
    }
}

void C1541::driveData(int level)
{
    if (cbm_iec_host_device* host = iecBus()) {
        drivingData = true;
        host->setIecLine(this, IEC_DATA, level);
        drivingData = false;
    }
}

// ATN restarts the listener states 2-6. Each ATN sequence addresses the drive anew.
bool C1541::answerAtn(Event event)
{
    if (event != cEVENT_ATN_ASSERTED)
        return false;
    busRole = kRoleNone;
    go(cSTATE_WAIT_ATN_RESPONSE_REQUIRED, kAtnResponse);
    return true;
}

// ATN while the drive talks (states 10-18) ends the talk at once: the byte in flight is
// dropped, CLK and DATA are let go and the drive answers ATN as from rest.
bool C1541::cutOffTalk(Event event)
{
    if (event != cEVENT_ATN_ASSERTED)
        return false;
    driveClk(1);
    driveData(1);
    outBitIndex = 0;
    eoiNext = false;
    lastByteSent = false;
    return answerAtn(event);
}

// Listener side.

bool C1541::stateIdle(Event event) { return answerAtn(event); }

bool C1541::stateWaitAtnResponseRequired(Event event)
{
    if (event != cEVENT_TIMER)
        return false;
    driveData(0);
    go(cSTATE_WAIT_TALKER_READY, kNoTimer);
    return true;
}

bool C1541::stateWaitTalkerReady(Event event)
{
    switch (event) {
    case cEVENT_CLK_RELEASED:
        go(cSTATE_LISTENER_READY_DELAY, kListenerReady);
        return true;
    case cEVENT_ATN_RELEASED:
        // Not addressed, with CLK already released: no talker is coming, so DATA is let go.
        if (busRole == kRoleListener || !clkLevel)
            return false;
        driveData(1);
        go(cSTATE_IDLE, kNoTimer);
        return true;
    default:
        return answerAtn(event);
    }
}

bool C1541::stateListenerReadyDelay(Event event)
{
    if (event != cEVENT_TIMER)
        return answerAtn(event);
    driveData(1);
    go(cSTATE_WAIT_FIRST_BIT, kEoiWait);
    return true;
}

bool C1541::stateWaitFirstBit(Event event)
{
    switch (event) {
    case cEVENT_CLK_ASSERTED:
        inShift = 0;  // a byte begins, also after one that was broken off
        inBitCount = 0;
        go(cSTATE_RECEIVE_BITS, kNoTimer);
        return true;
    case cEVENT_TIMER:  // the talker paused: end-or-identify
        driveData(0);
        go(cSTATE_EOI_ACKNOWLEDGE, kEoiAckHold);
        return true;
    default:
        return answerAtn(event);
    }
}

bool C1541::stateReceiveBits(Event event)
{
    if (event != cEVENT_CLK_RELEASED)
        return answerAtn(event);
    // Least significant bit first; released DATA is a 1.
    inShift = (dataLevel << 7) | (inShift >> 1);
    if (++inBitCount < 8) {
        go(cSTATE_RECEIVE_BITS, kNoTimer);
        return true;
    }
    const uint8_t byte = uint8_t(inShift);
    inShift = 0;
    inBitCount = 0;
    if (atnAsserted)
        handleCommandByte(byte);
    else
        handleDataByte(byte);
    go(cSTATE_WAIT_BYTE_END, kNoTimer);
    return true;
}

bool C1541::stateWaitByteEnd(Event event)
{
    if (event != cEVENT_CLK_ASSERTED)
        return answerAtn(event);
    go(cSTATE_ACKNOWLEDGE_BYTE, kByteAckDelay);
    return true;
}

bool C1541::stateAcknowledgeByte(Event event)
{
    if (event != cEVENT_TIMER)
        return false;
    driveData(0);
    go(busRole == kRoleTalkReady ? cSTATE_TURNAROUND : cSTATE_WAIT_TALKER_READY, kNoTimer);
    return true;
}

bool C1541::stateEoiAcknowledge(Event event)
{
    if (event != cEVENT_TIMER)
        return false;
    driveData(1);
    go(cSTATE_WAIT_FIRST_BIT, kNoTimer);
    return true;
}

// Talker side.

// The turnaround ends once both ATN and CLK are released, in either order.
bool C1541::stateTurnaround(Event event)
{
    switch (event) {
    case cEVENT_ATN_RELEASED:
        driveData(1);  // the timer stays as it is
        if (clkLevel)  // CLK came first
            takeClk();
        return true;
    case cEVENT_CLK_RELEASED:
        if (!atnAsserted)
            takeClk();
        return true;
    case cEVENT_ATN_ASSERTED:  // released and asserted again: a new command sequence
        return answerAtn(event);
    default:
        return false;
    }
}

void C1541::takeClk()
{
    driveClk(0);
    go(cSTATE_TALK_DELAY, kTalkDelay);
}

bool C1541::stateTalkDelay(Event event)
{
    if (event != cEVENT_TIMER)
        return cutOffTalk(event);
    driveClk(1);
    go(cSTATE_WAIT_LISTENER_READY, kNoTimer);
    return true;
}

bool C1541::stateWaitListenerReady(Event event)
{
    if (event != cEVENT_DATA_RELEASED)
        return cutOffTalk(event);
    go(cSTATE_BIT_VALID, kBitSetup);
    return true;
}

bool C1541::stateSendBit(Event event)
{
    if (event != cEVENT_TIMER)
        return cutOffTalk(event);
    if (!currentFile || currentFile->bytes.empty()) {
        // Nothing to send: let go of the bus; the listener sees end-or-identify, then a time-out.
        driveClk(1);
        driveData(1);
        go(cSTATE_IDLE, kNoTimer);
        return true;
    }
    driveData(nextBit());
    driveClk(0);
    go(cSTATE_BIT_VALID, kBitSetup);
    return true;
}

bool C1541::stateBitValid(Event event)
{
    if (event != cEVENT_TIMER)
        return cutOffTalk(event);
    driveClk(1);
    go(outBitIndex == 8 ? cSTATE_BYTE_DONE : cSTATE_SEND_BIT, kBitHold);
    return true;
}

bool C1541::stateByteDone(Event event)
{
    if (event != cEVENT_TIMER)
        return cutOffTalk(event);
    driveClk(0);
    driveData(1);
    go(cSTATE_WAIT_BYTE_ACK, kNoTimer);
    return true;
}

bool C1541::stateWaitByteAck(Event event)
{
    if (event != cEVENT_DATA_ASSERTED)
        return cutOffTalk(event);
    driveClk(1);
    go(cSTATE_WAIT_NEXT_BYTE, kNoTimer);
    return true;
}

bool C1541::stateWaitNextByte(Event event)
{
    if (event != cEVENT_DATA_RELEASED)
        return cutOffTalk(event);
    driveClk(1);
    if (lastByteSent)
        go(cSTATE_IDLE, kNoTimer);
    else if (eoiNext)
        go(cSTATE_WAIT_EOI_ACK, kNoTimer);  // the pause before the last byte
    else
        go(cSTATE_SEND_BIT, kBitHold);
    return true;
}

bool C1541::stateWaitEoiAck(Event event)
{
    if (event != cEVENT_DATA_ASSERTED)
        return cutOffTalk(event);
    go(cSTATE_WAIT_EOI_ACK_END, kNoTimer);
    return true;
}

bool C1541::stateWaitEoiAckEnd(Event event)
{
    if (event != cEVENT_DATA_RELEASED)
        return cutOffTalk(event);
    // CLK is taken at once: a listener may look for the last byte's first bit as soon as it has
    // let DATA go.
    driveClk(0);
    go(cSTATE_SEND_BIT, kBitHold);
    return true;
}

// Every byte under ATN is decoded, also those meant for other devices.
void C1541::handleCommandByte(uint8_t byte)
{
    if (byte == 0x3F) {  // UNLISTEN
        busRole = kRoleNone;
        return;
    }
    if (byte == 0x5F) {  // UNTALK
        busRole = kRoleNone;
        currentFile = nullptr;
        channelName.clear();
        sendIndex = 0;
        return;
    }
    const uint8_t s = byte & 0x0F;
    Channel& ch = channels[s];
    switch (uint8_t(byte + 0x20) >> 4) {
    case 4:  // LISTEN
        currentPrimary = s;
        if (busRole == kRoleNone && s == deviceNumber)
            busRole = kRoleListener;
        return;
    case 6:  // TALK
        currentPrimary = s;
        if (busRole == kRoleNone && s == deviceNumber)
            busRole = kRoleTalker;
        return;
    case 8:  // SECOND
        currentSecondary = s;
        selectChannel(s);
        return;
    case 0:  // CLOSE
        currentSecondary = s;
        if (ch.owner == deviceNumber)
            ch.open = 0;
        return;
    case 1:  // OPEN
        currentSecondary = s;
        if (busRole == kRoleTalker) {  // after TALK it names the channel to talk, as a SECOND does
            selectChannel(s);
        } else if (busRole == kRoleListener) {
            ch.open = 1;
            ch.owner = currentPrimary;
            channelName.clear();  // the name that follows, and nothing left from before
        }
        return;
    default:
        return;
    }
}

// A SECOND s: the channel's transfer begins.
void C1541::selectChannel(uint8_t s)
{
    Channel& ch = channels[s];
    if (ch.owner != deviceNumber) {
        if (s != 15)
            return;
        // The command channel goes to whoever is addressed and talks the status.
        ch.owner = currentPrimary;
        ch.open = 1;
        currentFile = statusDummy;
    } else {
        ch.open = 1;
        currentFile = s == 15 ? nullptr : findFile(channelName);
    }
    sendIndex = 0;
    outBitIndex = 0;
    eoiNext = false;
    lastByteSent = false;
    busRole = kRoleTalkReady;
}

void C1541::handleDataByte(uint8_t byte)
{
    if (currentSecondary != kNone && channels[currentSecondary & 15].open)
        channelName.push_back(char(byte));
}

const DiskFileEntry* C1541::findFile(const std::string& fileName)
{
    if (!disk)
        return programDummy;
    if (fileName == "$") {
        DiskFileEntry& next = directoryFile == &listingSlots[0] ? listingSlots[1] : listingSlots[0];
        next.bytes.clear();
        if (!buildDirectoryListing(disk, next))
            return nullptr;
        if (directoryFile)
            directoryFile->bytes.clear();
        directoryFile = &next;
        return directoryFile;
    }
    if (fileName == "*")
        return disk->files.empty() ? nullptr : &disk->files.front();
    for (const DiskFileEntry& entry : disk->files)
        if (entry.name == fileName)
            return &entry;
    return nullptr;
}

int C1541::nextBit()
{
    if (!currentFile)
        return 0;
    const uint64_t size = currentFile->bytes.size();
    if (outBitIndex == 8) {
        outBitIndex = 0;
        ++sendIndex;
    }
    if (sendIndex >= size)
        return 0;
    if (outBitIndex == 0) {
        if (sendIndex + 2 == size)
            eoiNext = true;
        if (sendIndex + 1 == size)
            lastByteSent = true;
    }
    return (currentFile->bytes[sendIndex] >> outBitIndex++) & 1;
}
