#pragma once
// What c64render takes from the engine besides audio: the file handed to the module, the SysEx
// the module sends, the canvas picture.

#include "shims/engine/Engine.h"

#include <cstdio>
#include <string>

// Hands FILE over through the file-path block (index 0, sub-command 1). False with a message when
// the path does not fit the block or the module refuses it (result -1).
bool handFileToModule(vantor::engine::Instance& instance, const std::string& path, std::string& error);

// Appends the SysEx bytes of every op-12 request recorded so far to `syx` (when not null), then
// forgets the recorded requests. False when writing fails.
bool takeHostCalls(vantor::engine::Instance& instance, FILE* syx);

// The canvas as last reported by the module (or as the block holds it when it never reported),
// as PPM, or PNG for a ".png" path.
bool writeCanvasFile(const vantor::engine::Instance& instance, const std::string& path, std::string& error);
