#include "net/ipv4.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(ParseIPv4, NotStrictTakesAddressesAndNames)
{
    EXPECT_EQ(ParseIPv4("192.168.1.10", FALSE), 0xC0A8010Au);
    EXPECT_EQ(ParseIPv4("236.5.7.2", FALSE), 0xEC050702u);
    // The all-ones address is an address, not a failure.
    EXPECT_EQ(ParseIPv4("255.255.255.255", FALSE), 0xFFFFFFFFu);
    EXPECT_EQ(ParseIPv4("", FALSE), 0u);
    EXPECT_EQ(ParseIPv4(nullptr, FALSE), 0u);
    // Resolved from the hosts file.
    EXPECT_EQ(ParseIPv4("localhost", FALSE), 0x7F000001u);

    errno = 0;
    EXPECT_EQ(ParseIPv4("1.2.3.256", FALSE), 0u);
    EXPECT_EQ(errno, EINVAL);
}

TEST(ParseIPv4, StrictDemandsFourDottedParts)
{
    EXPECT_EQ(ParseIPv4("10.0.0.1", TRUE), 0x0A000001u);
    EXPECT_EQ(ParseIPv4("236.5.7.123", TRUE), 0xEC05077Bu);
    for (const char* psz :
         {"", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.", "a.b.c.d", "1.2.3.4 ", "localhost", "-1.2.3.4"}) {
        SCOPED_TRACE(psz);
        EXPECT_EQ(ParseIPv4(psz, TRUE), 0xFFFFFFFFu);
    }
    // The right shape with a part out of range is no address: 0, as not strict.
    errno = 0;
    EXPECT_EQ(ParseIPv4("1.2.3.999", TRUE), 0u);
    EXPECT_EQ(errno, EINVAL);
    // A leading dot passes the shape test and then fails as an address.
    EXPECT_EQ(ParseIPv4(".1.2.3", TRUE), 0u);
}
