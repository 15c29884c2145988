#include "settings/dial_string_builder.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

TEST(DialStringBuilderTest, JoinsSettingsAndNumber)
{
    struct Case {
        StoredSettings settings;
        std::string number;
        std::string expected;
    };
    const Case cases[] = {
        {{"alice", "pw", "pbx.example:4569"}, "600", "alice:pw@pbx.example:4569/600"},
        // A user name with an empty password still writes both separators.
        {{"alice", "", "10.0.0.1"}, "7", "alice:@10.0.0.1/7"},
        // Without a user name the password is not dialled either.
        {{"", "pw", "127.0.0.1:5037"}, "100", "127.0.0.1:5037/100"},
        {{"", "", "127.0.0.1"}, "", "127.0.0.1"},
        // Only a number: the address part stays empty (the library refuses it).
        {{"", "", ""}, "600", "/600"},
        {{"", "", ""}, "", ""},
        // No length limit on the number: the keypad can go past 32 digits.
        {{"", "", "h"}, std::string(40, '9'), "h/" + std::string(40, '9')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildDialString(c.settings, c.number), c.expected) << c.expected;
}

}  // namespace
}  // namespace velnar
