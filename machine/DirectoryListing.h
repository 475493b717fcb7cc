#pragma once
// The BASIC program that LOAD"$",8 gives: a reversed header line with the disk name, ID and DOS
// type, one line per file (blocks as line number, quoted name, type) and the free blocks. The
// lines hold no keyword tokens, so LIST shows them as they are.

#include "machine/DiskFile.h"

// Appends the program, load address $0801 first, to entry.bytes; false without a disk.
bool buildDirectoryListing(const DiskFile* disk, DiskFileEntry& entry);
