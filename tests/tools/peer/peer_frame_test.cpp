// The peer's own codec must be right for the loopback tests to mean anything.
#include "tools/peer/peer_frame.h"

#include <gtest/gtest.h>

namespace iaxpeer {
namespace {

TEST(PeerFrameTest, SubclassPackingTable)
{
    struct Case {
        uint32_t value;
        uint8_t byte;
    } cases[] = {{0, 0x00},   {2, 0x02},        {127, 0x7F}, {128, 0x87},
                 {256, 0x88}, {1u << 30, 0x9E}, {192, 0x00}, {129, 0x00}};
    for (const Case& c : cases) {
        EXPECT_EQ(CompressSubclass(c.value), c.byte) << c.value;
        if (c.byte & 0x80) {
            EXPECT_EQ(ExpandSubclass(c.byte), c.value) << c.value;
        }
    }
    EXPECT_EQ(ExpandSubclass(0x02), 2u);
    EXPECT_EQ(ExpandSubclass(0xA1), 2u);  // only the low five bits count
}

TEST(PeerFrameTest, FullFrameRoundTripsThroughBytes)
{
    FullHeader h{0x1234, 0xFFFF, 0xDEADBEEF, 0xBEEF, kIax, kNew};
    Bytes wire = BuildFull(h, ToBytes("exten=1;"));
    ASSERT_EQ(wire.size(), 12u + 8u);
    EXPECT_EQ(wire[0], 0x92);  // full-frame bit set on the source call number
    EXPECT_EQ(wire[1], 0x34);
    auto f = ParseDatagram(wire.data(), wire.size());
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->Is(kIax, kNew));
    EXPECT_EQ(f->sourceCall, 0x1234);
    EXPECT_EQ(f->destCall, 0xFFFF);
    EXPECT_EQ(f->timestampMs, 0xDEADBEEFu);
    EXPECT_EQ(f->sequence, 0xBEEF);
    EXPECT_EQ(f->Text(), "exten=1;");
}

TEST(PeerFrameTest, MiniFrameAndShortHeaders)
{
    Bytes wire = BuildMini(0x8005, 0x1234, Bytes{1, 2, 3});
    ASSERT_EQ(wire.size(), 7u);
    auto f = ParseDatagram(wire.data(), wire.size());
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->full);
    EXPECT_EQ(f->sourceCall, 5);
    EXPECT_EQ(f->timestampMs, 0x1234u);
    EXPECT_EQ(f->payload, (Bytes{1, 2, 3}));
    Bytes shortFull(11, 0x80);
    EXPECT_FALSE(ParseDatagram(shortFull.data(), shortFull.size()));
    Bytes shortMini(3, 0x00);
    EXPECT_FALSE(ParseDatagram(shortMini.data(), shortMini.size()));
}

TEST(PeerFrameTest, ElementsSplitStrictly)
{
    auto e = SplitElements("exten=100;dnid=;formats=2;");
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, (Elements{{"exten", "100"}, {"dnid", ""}, {"formats", "2"}}));
    EXPECT_EQ(JoinElements(*e), "exten=100;dnid=;formats=2;");
    EXPECT_FALSE(SplitElements("exten=100"));      // no closing ";"
    EXPECT_FALSE(SplitElements("exten=1; a=2;"));  // no space anywhere
    EXPECT_FALSE(SplitElements("=1;"));
}

}  // namespace
}  // namespace iaxpeer
