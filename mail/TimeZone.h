#pragma once
// Zone offset and the "Date" header text.

#include <ctime>
#include <string>

namespace og {

// Local time minus UTC in minutes, as in effect now (daylight time included).
// Raises og::Exception "Failed attempting to retrieve time zone information."
// when the C library cannot convert the current time.
int TimeZoneOffset();

// The offset in effect at the given moment.
int TimeZoneOffsetAt(std::time_t when);

// "+0100", "-0500", "+0530"; "GMT" for zero when gmtWhenZero is set.
std::string FormatZoneOffset(int minutes, bool gmtWhenZero);

// "Wed, 5 Mar 2003 14:07:09 -0500" for the local time of `when`, whatever the
// user's locale.
std::string FormatDateHeader(std::time_t when);

} // namespace og
