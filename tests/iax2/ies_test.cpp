// Information elements: hand-checked encodings of the small fields, and the
// length and text checks of the parser.
#include "iax2/ies.h"

#include <gtest/gtest.h>

#include <string>

#include "iax2/codes.h"
#include "tests/iax2/hex_bytes.h"

namespace iax2 {
namespace {

TEST(Iax2Ies, DateTimeAndApparentAddress)
{
    IeWriter ies;
    ies.Date(kIeDateTime, {2024, 3, 15, 12, 34, 56});
    ies.Address(kIeApparentAddr, {0xC000020A, 4569});
    EXPECT_EQ(ies.bytes(), Hex("1f 04 30 6f 64 5c 12 10 02 00 11 d9 c0 00 02 0a"
                               "00 00 00 00 00 00 00 00"));
    Ies parsed;
    ASSERT_EQ(ParseIes(ies.bytes(), &parsed), 0);
    EXPECT_EQ(parsed.dateTime->year, 2024);
    EXPECT_EQ(parsed.dateTime->minute, 34);
    EXPECT_EQ(parsed.dateTime->second, 56);
    EXPECT_EQ(parsed.apparentAddress->address, 0xC000020Au);
    EXPECT_EQ(parsed.apparentAddress->port, 4569);
}

TEST(Iax2Ies, ElementLengthsAreChecked)
{
    Ies ies;
    EXPECT_EQ(ParseIes(Hex("01 03 31 30"), &ies), -1) << "runs past the end";
    EXPECT_EQ(ParseIes(Hex("01"), &ies), -1) << "header cut";
    EXPECT_EQ(ParseIes(Hex("09 02 00 04"), &ies), -1) << "FORMAT must be 4 octets";
    EXPECT_EQ(ParseIes(Hex("0b 01 02"), &ies), -1) << "VERSION must be 2 octets";
    EXPECT_EQ(ParseIes(Hex("12 05 02 00 11 d9 c0"), &ies), -1) << "short address";
    EXPECT_EQ(ParseIes(Hex("16 02 c3 28"), &ies), -1) << "malformed UTF-8";
    EXPECT_EQ(ParseIes(Hex("16 03 ed a0 80"), &ies), -1) << "surrogate";
    Ies skipped;
    ASSERT_EQ(ParseIes(Hex("7e 03 01 02 03 16 02 c3 a9 2b 01 01"), &skipped), 0);
    EXPECT_EQ(skipped.cause, "\xc3\xa9");
    EXPECT_EQ(skipped.encryption, 1) << "one-octet form accepted";
}

TEST(Iax2Ies, LongTextIsCutAtACharacterBoundary)
{
    IeWriter ies;
    ies.Text(kIeCause, std::string(254, 'a') + "\xc3\xa9");
    ASSERT_EQ(ies.bytes()[1], 254);
    Ies parsed;
    EXPECT_EQ(ParseIes(ies.bytes(), &parsed), 0);
}

}  // namespace
}  // namespace iax2
