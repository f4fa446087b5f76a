#include "mail/TimeZone.h"

#include <cstdio>
#include <cstdlib>

#include "net/WireExceptions.h"

namespace og {

namespace {

constexpr const char* DayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[12] = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm LocalTime(std::time_t when)
{
    // tzset keeps a changed TZ honoured; localtime_r alone need not re-read it.
    tzset();
    std::tm local {};
    if (localtime_r(&when, &local) == nullptr)
        throw Exception("Failed attempting to retrieve time zone information.");
    return local;
}

int OffsetMinutes(const std::tm& local)
{
    return static_cast<int>(local.tm_gmtoff / 60);
}

} // namespace

int TimeZoneOffsetAt(std::time_t when)
{
    return OffsetMinutes(LocalTime(when));
}

int TimeZoneOffset()
{
    return TimeZoneOffsetAt(std::time(nullptr));
}

std::string FormatZoneOffset(int minutes, bool gmtWhenZero)
{
    if (minutes == 0 && gmtWhenZero)
        return "GMT";
    const char sign = minutes >= 0 ? '+' : '-';
    const int amount = std::abs(minutes);
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d%02d", sign, amount / 60, amount % 60);
    return text;
}

std::string FormatDateHeader(std::time_t when)
{
    const std::tm local = LocalTime(when);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d ", DayNames[local.tm_wday % 7], local.tm_mday,
        MonthNames[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text + FormatZoneOffset(OffsetMinutes(local), false);
}

} // namespace og
