#include <gtest/gtest.h>

#include "platform/Socket.h"

TEST(LocalAddressToward, LoopbackPeerIsReachedFromLoopback)
{
    const auto peer = platform::ResolveIPv4("127.0.0.1");
    ASSERT_TRUE(peer);
    EXPECT_EQ(platform::LocalAddressToward(*peer), peer);
    // Another loopback address is still reached through the loopback interface.
    const auto local = platform::LocalAddressToward(*platform::ResolveIPv4("127.0.0.5"));
    ASSERT_TRUE(local);
    EXPECT_EQ(*local >> 24, 127u);
}
