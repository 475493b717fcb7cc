#pragma once
// Notices: CFUserNotificationDisplayNotice never blocks. It hands header and message (UTF-8) to
// the installed notice handler, by default one that writes them to standard error.

#include "shims/corefoundation/CFString.h"
#include "shims/corefoundation/CFURL.h"

#include <string>

typedef double CFTimeInterval;
typedef int32_t SInt32;

enum : CFOptionFlags {
    kCFUserNotificationStopAlertLevel = 0,
    kCFUserNotificationNoteAlertLevel = 1,
    kCFUserNotificationCautionAlertLevel = 2,
    kCFUserNotificationPlainAlertLevel = 3,
};

// 0 once the notice was handed on; -1 when the header or the message is missing or not text.
// The timeout, the flags, the URLs and the button title are not used.
SInt32 CFUserNotificationDisplayNotice(CFTimeInterval timeout, CFOptionFlags flags, CFURLRef iconURL,
                                       CFURLRef soundURL, CFURLRef localizationURL, CFStringRef alertHeader,
                                       CFStringRef alertMessage, CFStringRef defaultButtonTitle);

// Where notices go; null restores the default. The platform layer routes them to its alerts.
using CFShimNoticeHandler = void (*)(const std::string& header, const std::string& message);
void CFShimSetNoticeHandler(CFShimNoticeHandler handler);
