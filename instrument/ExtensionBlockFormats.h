#pragma once
// What the instrument writes into the engine's shared blocks (layouts in ExtensionBlocks.h): the
// formats of sub-command 0, the routing text and text slots, the parameter-change rules, and
// bounded reads of the texts the engine puts there. Each function takes a block of at least the
// id's size; none calls the engine.

#include "abi/ExtensionBlocks.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ExtensionBlock {

// Sets `set` and clears `clear` in the flag word at +0x0C; the other bits stay.
void changeFlags(uint8_t* block, uint32_t set, uint32_t clear);

// The text at `offset`, read up to the first zero or `capacity` bytes, whichever comes first.
std::string readText(const uint8_t* block, size_t offset, size_t capacity);
std::string readRoutingText(const uint8_t* block);  // at most 32256 bytes
std::string readSlotText(const uint8_t* block);     // at most 32256 bytes
std::string readPath(const uint8_t* block);         // at most 512 bytes

// 35607: pixel area zeroed, id and size written, flag word 0; palettes and size words untouched.
void formatCanvas(uint8_t* block);
// The controller's dimensions (low 16 bits): the first to +0x2A, the second to +0x28.
void writeCanvasSize(uint8_t* block, uint64_t first, uint64_t second);

// 12497: size and version words, payload zeroed, flag word 8.
void formatParameterChange(uint8_t* block);
// Payload zeroed (the list emptied), flag word 8; the routing text changed.
void clearParameterChanges(uint8_t* block);
// Change kind 1: stores the value; true when the engine must be told (the stored value differed,
// a NaN on either side counts as different). Items of 2048 and above: false, nothing written.
bool storeChangedValue(uint8_t* block, uint16_t item, float value);
// Change kind 2: the re-read marker as the value, the item listed once; nothing past 2048 items
// or once the list is full.
void markForReread(uint8_t* block, uint16_t item);

// 12499: size word 32768, version 2068, text zeroed, flag word 0x38.
void formatRoutingText(uint8_t* block);
// The routing text as the instrument sets it: area zeroed, version 2068, at most 32255
// characters, flags 0x08 and 0x30 set, +0x04 = 32 + length. Returns the stored length.
size_t writeRoutingText(uint8_t* block, const char* text);
// Sub-command 2: flags 0x30 set, +0x04 = 32 + the text's length.
void markRoutingTextApplied(uint8_t* block, size_t length);

// 22362: the synth's default step table (flags 0x01 and 0x10 cleared, then 0x10 set).
void formatStepTable(uint8_t* block);

// 32391: size word 32288, version 1818, text zeroed; flags 0x30 set for keys 0 and 2, cleared
// for the others.
void formatTextSlot(uint8_t* block, uint64_t key);
// At most 32255 characters, the rest of the area zeroed. Returns the stored length.
size_t writeSlotText(uint8_t* block, const char* text);

// 47731: id, size word 32, flags 0x01 and 0x10 cleared then 0x10 set, length and +0x30 zero,
// samples zeroed; the marker tables untouched.
void formatSample(uint8_t* block);

// 61715: at most 511 characters at +0x220, the rest of the area zeroed. Returns the stored length.
size_t writePath(uint8_t* block, const char* path);

}  // namespace ExtensionBlock
