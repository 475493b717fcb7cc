#pragma once
// Byte order, bit reversal, power-of-two rounding, raw buffers and folder walking shared by the
// module's readers.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Always true: every target is little-endian. Readers of fixed-order formats swap when the
// format's order differs.
bool isHostLittleEndian();
void swapBytes16InPlace(uint16_t* values, uint64_t count);
void swapBytes32InPlace(uint32_t* values, uint64_t count);
// The byte with its bit order reversed; the byte itself is not changed.
uint8_t reverseBits8(const uint8_t* byte);
// The smallest power of two not below n, for 1 <= n <= 2^63; 0 for 0 and above 2^63.
uint64_t nextPowerOfTwo(uint64_t n);

// Raw buffers: allocBuffer is zero-filled; release what these return only with freeBuffer.
void* allocBuffer(uint64_t size);
void freeBuffer(void* buffer);
void* reallocBuffer(void* buffer, uint64_t size);

// Sum of the sizes of the regular files anywhere under the folder; 0 for an empty or missing one.
int64_t folderTotalSize(const std::string& folder);
void listFiles(const std::string& folder, const std::string& pattern, std::set<std::string>& out,
               volatile int* stop);
void listFilesWithExtensions(const std::string& folder, const std::vector<std::string>& extensions,
                             std::set<std::string>& out, volatile int* stop);
void listSubfolders(const std::string& folder, std::set<std::string>& out);
