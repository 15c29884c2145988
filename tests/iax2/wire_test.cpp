// The wire and element coding against hand-checked frames (byte counts,
// digest and bit packing verified apart), and the header checks.
#include "iax2/wire.h"

#include <gtest/gtest.h>

#include "iax/md5.h"
#include "iax2/codes.h"
#include "iax2/ies.h"
#include "tests/iax2/hex_bytes.h"

namespace iax2 {
namespace {

Bytes Frame(FullHeader header, const Bytes& data)
{
    Bytes out;
    EXPECT_EQ(AppendFull(header, data, &out), 0);
    return out;
}

TEST(Iax2Wire, NewWithEveryElementACallNeeds)
{
    IeWriter ies;
    ies.U16(kIeVersion, 2).Empty(kIeCallToken).Text(kIeCalledNumber, "100");
    ies.Text(kIeCallingNumber, "2001").Text(kIeCallingName, "Agent").Text(kIeUsername, "agent");
    ies.U8(kIeCallingPres, 0).U8(kIeCallingTon, 0).U16(kIeCallingTns, 0);
    ies.U32(kIeCapability, kFormatGsm | kFormatUlaw | kFormatAlaw).U32(kIeFormat, kFormatUlaw);
    const Bytes frame = Frame({0x0123, 0, false, 2, 0, 0, kTypeCommand, kNew}, ies.bytes());
    EXPECT_EQ(frame, Hex("81 23 00 00 00 00 00 02 00 00 06 01 0b 02 00 02"
                         "36 00 01 03 31 30 30 02 04 32 30 30 31 04 05 41"
                         "67 65 6e 74 06 05 61 67 65 6e 74 26 01 00 27 01"
                         "00 28 02 00 00 08 04 00 00 00 0e 09 04 00 00 00 04"));

    FullHeader header;
    ByteView data;
    ASSERT_EQ(ParseFull(frame, &header, &data), 0);
    Ies parsed;
    ASSERT_EQ(ParseIes(data, &parsed), 0);
    EXPECT_EQ(header.source, 0x0123);
    EXPECT_EQ(header.subclass, uint32_t(kNew));
    EXPECT_EQ(parsed.version, 2);
    EXPECT_EQ(parsed.callToken, "");
    EXPECT_EQ(parsed.calledNumber, "100");
    EXPECT_EQ(parsed.callingName, "Agent");
    EXPECT_EQ(parsed.capability, 0xEu);
    EXPECT_EQ(parsed.format, uint32_t(kFormatUlaw));
}

TEST(Iax2Wire, AuthRepAckAndMiniFrame)
{
    char md5[33];
    IaxMd5Hex("214748364", "s3cret", md5);
    EXPECT_STREQ(md5, "0c5b82d1f207f433199e2c3652d875d7");
    IeWriter reply;
    reply.Text(kIeMd5Result, md5);
    EXPECT_EQ(Frame({0x0123, 0x2B67, false, 35, 1, 1, kTypeCommand, kAuthRep}, reply.bytes()),
              Hex("81 23 2b 67 00 00 00 23 01 01 06 09 10 20 30 63 35 62 38 32 64 31 66 32"
                  "30 37 66 34 33 33 31 39 39 65 32 63 33 36 35 32 64 38 37 35 64 37"));
    EXPECT_EQ(Frame({0x0123, 0x2B67, false, 0x4D, 2, 2, kTypeCommand, kAck}, {}),
              Hex("81 23 2b 67 00 00 00 4d 02 02 06 04"));

    Bytes mini;
    ASSERT_EQ(AppendMini({0x0123, uint16_t(0x00012340)}, Bytes(160, 0xFF), &mini), 0);
    ASSERT_EQ(mini.size(), 164u);
    EXPECT_EQ(Bytes(mini.begin(), mini.begin() + 5), Hex("01 23 23 40 ff"));
    MiniHeader header;
    ByteView payload;
    ASSERT_EQ(ParseMini(mini, &header, &payload), 0);
    EXPECT_EQ(header.source, 0x0123);
    EXPECT_EQ(header.timestamp, 0x2340);
    EXPECT_EQ(payload.size(), 160u);
}

TEST(Iax2Wire, ClassifiesEveryKindOfDatagram)
{
    EXPECT_EQ(Classify(Hex("81 23 00")), DatagramKind::Invalid);
    EXPECT_EQ(Classify(Hex("81 23 00 00 00 00 00 02 00 00 06")), DatagramKind::Invalid);
    EXPECT_EQ(Classify(Hex("81 23 00 00 00 00 00 02 00 00 06 01")), DatagramKind::Full);
    EXPECT_EQ(Classify(Hex("01 23 23 40")), DatagramKind::Mini);
    EXPECT_EQ(Classify(Hex("00 00 80 05 00 10")), DatagramKind::MetaVideo);
    EXPECT_EQ(Classify(Hex("00 00 01 00 00 00 00 10")), DatagramKind::MetaTrunk);
    Bytes out;
    EXPECT_EQ(AppendMini({0, 0}, {}, &out), -1) << "call number 0 would read as a meta frame";
}

TEST(Iax2Wire, PowerOfTwoSubclasses)
{
    EXPECT_EQ(EncodeSubclass(0x02), 0x02);
    EXPECT_EQ(EncodeSubclass(0x40), 0x40);
    EXPECT_EQ(EncodeSubclass(0x100), 0x88);
    EXPECT_EQ(EncodeSubclass(0x400), 0x8A);
    EXPECT_EQ(EncodeSubclass(0x1000), 0x8C);
    EXPECT_EQ(EncodeSubclass(0x180), -1);
    FullHeader header;
    ByteView data;
    ASSERT_EQ(ParseFull(Hex("81 23 00 01 00 00 00 02 00 00 02 88"), &header, &data), 0);
    EXPECT_EQ(header.subclass, 0x100u);
    EXPECT_EQ(ParseFull(Hex("81 23 00 01 00 00 00 02 00 00 02 a0"), &header, &data), -1);
}

}  // namespace
}  // namespace iax2
