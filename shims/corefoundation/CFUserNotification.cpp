#include "shims/corefoundation/CFUserNotification.h"

#include "shims/corefoundation/CFObject.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<CFShimNoticeHandler> g_noticeHandler{nullptr};

bool text(CFStringRef s, std::string& out)
{
    return s && CFGetTypeID(s) == CFStringGetTypeID() && cfShimUTF8FromUnits(s->units, out);
}

}  // namespace

SInt32 CFUserNotificationDisplayNotice(CFTimeInterval, CFOptionFlags, CFURLRef, CFURLRef, CFURLRef,
                                       CFStringRef alertHeader, CFStringRef alertMessage, CFStringRef)
{
    std::string header, message;
    if (!text(alertHeader, header) || !text(alertMessage, message))
        return -1;
    if (const CFShimNoticeHandler handler = g_noticeHandler.load())
        handler(header, message);
    else
        std::fprintf(stderr, "notice: %s | %s\n", header.c_str(), message.c_str());
    return 0;
}

void CFShimSetNoticeHandler(CFShimNoticeHandler handler) { g_noticeHandler.store(handler); }
