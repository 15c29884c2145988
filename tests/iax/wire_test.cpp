#include "iax/wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(WireTest, SubclassCompressionTable)
{
    struct Case {
        int value;
        uint8_t byte;
    } cases[] = {{0, 0x00},       {2, 0x02},   {127, 0x7F}, {128, 0x87}, {256, 0x88},
                 {1 << 30, 0x9E}, {192, 0x00}, {129, 0x00}, {-1, 0x00}};
    for (const Case& c : cases)
        EXPECT_EQ(IaxCompressSubclass(c.value), c.byte) << "value " << c.value;
}

TEST(WireTest, SubclassExpansionTable)
{
    EXPECT_EQ(IaxExpandSubclass(0x87), 128);
    EXPECT_EQ(IaxExpandSubclass(0x02), 2);
    EXPECT_EQ(IaxExpandSubclass(0x7F), 127);
    EXPECT_EQ(IaxExpandSubclass(0xE1), 2);  // only the low five bits count
    EXPECT_EQ(static_cast<unsigned>(IaxExpandSubclass(0x9F)), 0x80000000u);
    for (int bit = 7; bit <= 30; ++bit)
        EXPECT_EQ(IaxExpandSubclass(IaxCompressSubclass(1 << bit)), 1 << bit);
}

TEST(WireTest, FullHeaderRoundTripAndShortInput)
{
    unsigned char bytes[12];
    IaxEncodeFullHeader(bytes, IaxFullHeader{5, 0xFFFF, 0x01020304, 7, 6, 4});
    const unsigned char expected[12] = {0x80, 0x05, 0xFF, 0xFF, 1, 2, 3, 4, 0, 7, 6, 4};
    EXPECT_EQ(memcmp(bytes, expected, 12), 0);
    IaxFullHeader header{};
    ASSERT_EQ(IaxDecodeFullHeader(bytes, 12, &header), 0);
    EXPECT_EQ(header.sourceCall, 5);
    EXPECT_EQ(header.destCall, 0xFFFF);
    EXPECT_EQ(header.timestamp, 0x01020304u);
    EXPECT_EQ(header.sequence, 7);
    EXPECT_TRUE(IaxIsFullFrame(bytes, 12));
    EXPECT_EQ(IaxDecodeFullHeader(bytes, 11, &header), -1);
}

TEST(WireTest, MiniHeaderClearsTheFullFrameBit)
{
    unsigned char bytes[4];
    IaxEncodeMiniHeader(bytes, IaxMiniHeader{0x8123, 0xBEEF});
    EXPECT_FALSE(IaxIsFullFrame(bytes, 4));
    IaxMiniHeader header{};
    ASSERT_EQ(IaxDecodeMiniHeader(bytes, 4, &header), 0);
    EXPECT_EQ(header.sourceCall, 0x0123);
    EXPECT_EQ(header.timestamp, 0xBEEF);
    EXPECT_EQ(IaxDecodeMiniHeader(bytes, 3, &header), -1);
}

TEST(WireTest, DatagramDecodingTable)
{
    const unsigned char full[14] = {0x80, 0x05, 0x00, 0x07, 0, 0, 1, 0, 0, 3, 6, 4, 'h', 'i'};
    const unsigned char mini[6] = {0x00, 0x05, 0x12, 0x34, 0xD0, 0xD1};
    struct Case {
        const unsigned char* bytes;
        int length;
        int result;
        bool isFull;
        int payloadBytes;
    } cases[] = {{full, 14, 0, true, 2}, {full, 12, 0, true, 0}, {full, 11, -1, true, 0},
                 {mini, 6, 0, false, 2}, {mini, 4, 0, false, 0}, {mini, 3, -1, false, 0},
                 {mini, 0, -1, false, 0}};
    for (const Case& c : cases) {
        IaxDatagram datagram{};
        ASSERT_EQ(IaxDecodeDatagram(c.bytes, c.length, &datagram), c.result) << c.length;
        EXPECT_EQ(datagram.isFull, c.isFull) << c.length;
        if (c.result != 0)
            continue;
        EXPECT_EQ(datagram.payloadBytes, c.payloadBytes);
        EXPECT_EQ(datagram.payload, c.bytes + c.length - c.payloadBytes);
    }
    IaxDatagram decoded{};
    ASSERT_EQ(IaxDecodeDatagram(full, 14, &decoded), 0);
    EXPECT_EQ(decoded.full.destCall, 7);
    EXPECT_EQ(decoded.full.timestamp, 256u);
    EXPECT_EQ(decoded.full.sequence, 3);
    ASSERT_EQ(IaxDecodeDatagram(mini, 6, &decoded), 0);
    EXPECT_EQ(decoded.mini.sourceCall, 5);
    EXPECT_EQ(decoded.mini.timestamp, 0x1234);
}

std::string Value(const char* payload, const char* key)
{
    char* value = IaxTextValue(payload, key);
    std::string result = value ? value : "<null>";
    free(value);
    return result;
}

TEST(WireTest, TextValueLookupTable)
{
    struct Case {
        const char* payload;
        const char* key;
        const char* expected;
    } cases[] = {
        {"callerid=A;exten=100;formats=2;", "exten=", "100"},
        {"a=1;a=2;", "a=", "1"},                // first occurrence wins
        {"md5secret=abc;", "secret=", "abc"},   // matches inside a longer key
        {"exten=;", "exten=", ""},              // empty value
        {"x=1;last=tail", "last=", "tail"},     // last element without ';'
        {"formats=2;", "callerid=", "<null>"},  // absent
        {"", "a=", "<null>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Value(c.payload, c.key), c.expected) << c.payload << " / " << c.key;
}

TEST(WireTest, LenientDecimalTable)
{
    struct Case {
        const char* text;
        int value;
    } cases[] = {{"42", 42},
                 {"  -12x", -12},
                 {"+7", 7},
                 {"abc", 0},
                 {"", 0},
                 {"99999999999999", 2147483647},
                 {"-99999999999999", -2147483647 - 1}};
    for (const Case& c : cases)
        EXPECT_EQ(IaxParseDecimal(c.text), c.value) << c.text;
    EXPECT_EQ(IaxTextInt("expirey=-5;", "expirey=", 9), -5);
    EXPECT_EQ(IaxTextInt("status=exists;", "expirey=", 9), 9);
}

TEST(WireTest, DottedQuadTable)
{
    struct Case {
        const char* text;
        int result;
        uint32_t address;
    } cases[] = {
        {"10.0.0.1", 0, 0x0A000001},
        {"300.1.2.3", 0, 0x2C010203},  // each number modulo 256
        {"1.2.3", -1, 0},
        {"1.2.3.x", -1, 0},
        {"a.b.c.d", -1, 0},
        {"", -1, 0},
        {"1..2.3", -1, 0},
    };
    for (const Case& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(IaxParseDottedQuad(c.text, &address), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(address, c.address) << c.text;
        }
    }
}

TEST(WireTest, ElementsStopAtTheCapacity)
{
    char text[16];
    memset(text, '#', sizeof text);
    int length = IaxAppendElement(text, 0, 10, "exten=", "123456789");
    EXPECT_EQ(length, 10);
    EXPECT_EQ(std::string(text, 10), "exten=1234");
    EXPECT_EQ(text[10], '#');  // nothing written past the capacity
    length = IaxAppendIntElement(text, 0, 16, "formats=", 2);
    EXPECT_EQ(std::string(text, length), "formats=2;");
}

TEST(WireTest, CopyTextCutsAt79Characters)
{
    char field[IaxTextFieldBytes];
    std::string longText(200, 'x');
    IaxCopyText(field, sizeof field, longText.c_str());
    EXPECT_EQ(strlen(field), 79u);
    IaxCopyText(field, sizeof field, nullptr);
    EXPECT_STREQ(field, "");
}

}  // namespace
