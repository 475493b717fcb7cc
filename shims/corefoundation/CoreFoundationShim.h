#pragma once
// The CoreFoundation stand-in: everything the platform layer calls.

#include "shims/corefoundation/CFArray.h"
#include "shims/corefoundation/CFBase.h"
#include "shims/corefoundation/CFBundle.h"
#include "shims/corefoundation/CFData.h"
#include "shims/corefoundation/CFDictionary.h"
#include "shims/corefoundation/CFError.h"
#include "shims/corefoundation/CFNumber.h"
#include "shims/corefoundation/CFPreferences.h"
#include "shims/corefoundation/CFPropertyList.h"
#include "shims/corefoundation/CFString.h"
#include "shims/corefoundation/CFURL.h"
#include "shims/corefoundation/CFUserNotification.h"
