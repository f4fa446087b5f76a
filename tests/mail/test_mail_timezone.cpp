// The "Date" header and its zone text, under several time zones set through TZ.

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "mail/TimeZone.h"
#include "tests/support/MessageTestSupport.h"

namespace {

// Switches the process's zone for one test and puts the old one back.
constexpr std::time_t Mar5_2003_190709Utc = 1046891229; // a Wednesday, standard time
constexpr std::time_t Jul1_2003_120000Utc = 1057060800; // northern summer time
constexpr std::time_t Jun1_2024_003000Utc = 1717201800; // a Saturday

TEST(FormatZoneOffset, SignHoursAndMinutes)
{
    EXPECT_EQ(og::FormatZoneOffset(-300, false), "-0500");
    EXPECT_EQ(og::FormatZoneOffset(60, false), "+0100");
    EXPECT_EQ(og::FormatZoneOffset(330, false), "+0530");
    EXPECT_EQ(og::FormatZoneOffset(-210, false), "-0330");
    EXPECT_EQ(og::FormatZoneOffset(0, false), "+0000");
    EXPECT_EQ(og::FormatZoneOffset(0, true), "GMT");
    EXPECT_EQ(og::FormatZoneOffset(60, true), "+0100");
    EXPECT_EQ(og::FormatZoneOffset(14 * 60, false), "+1400");
}

TEST(DateHeader, WestOfUtcInStandardAndDaylightTime)
{
    og::test::ZoneScope zone("EST5EDT");
    EXPECT_EQ(og::FormatDateHeader(Mar5_2003_190709Utc), "Wed, 5 Mar 2003 14:07:09 -0500");
    EXPECT_EQ(og::FormatDateHeader(Jul1_2003_120000Utc), "Tue, 1 Jul 2003 08:00:00 -0400");
    EXPECT_EQ(og::TimeZoneOffsetAt(Mar5_2003_190709Utc), -300);
    EXPECT_EQ(og::TimeZoneOffsetAt(Jul1_2003_120000Utc), -240);
}

TEST(DateHeader, EastOfUtcWithHalfHourAndSummerTime)
{
    {
        og::test::ZoneScope zone("Asia/Kolkata");
        EXPECT_EQ(og::FormatDateHeader(Mar5_2003_190709Utc), "Thu, 6 Mar 2003 00:37:09 +0530");
    }
    {
        og::test::ZoneScope zone("Europe/Berlin");
        EXPECT_EQ(og::FormatDateHeader(Mar5_2003_190709Utc), "Wed, 5 Mar 2003 20:07:09 +0100");
        EXPECT_EQ(og::FormatDateHeader(Jul1_2003_120000Utc), "Tue, 1 Jul 2003 14:00:00 +0200");
    }
}

TEST(DateHeader, UtcGivesPlusZeroesAndFirstDayHasNoLeadingZero)
{
    og::test::ZoneScope zone("UTC");
    EXPECT_EQ(og::FormatDateHeader(Jun1_2024_003000Utc), "Sat, 1 Jun 2024 00:30:00 +0000");
    EXPECT_EQ(og::TimeZoneOffset(), 0);
}

TEST(DateHeader, CurrentOffsetFollowsTheZone)
{
    // Fixed-offset POSIX zones (no daylight rule): the offset is known at any date.
    {
        og::test::ZoneScope zone("XXX-5:30");
        EXPECT_EQ(og::TimeZoneOffset(), 330);
    }
    {
        og::test::ZoneScope zone("XXX3");
        EXPECT_EQ(og::TimeZoneOffset(), -180);
    }
}

} // namespace
