#pragma once
// The CoreFoundation stand-in: everything the platform layer calls.

#include "shims/corefoundation/CFBase.h"
#include "shims/corefoundation/CFBundle.h"
#include "shims/corefoundation/CFError.h"
#include "shims/corefoundation/CFNumber.h"
#include "shims/corefoundation/CFString.h"
#include "shims/corefoundation/CFURL.h"
