#include "iax/dial_string.h"

#include <gtest/gtest.h>

#include <string>

#include "iax/iax.h"

namespace {

std::string Field(const char* text)
{
    return text ? text : "<none>";
}

TEST(DialStringTest, FieldsTable)
{
    struct Case {
        const char* dial;
        const char* username;
        const char* secret;
        const char* host;
        int port;
        const char* exten;
        const char* context;
    } cases[] = {
        {"alice:pw@pbx.example:4569/100@office", "alice", "pw", "pbx.example", 4569, "100",
         "office"},
        {"pbx", "<none>", "<none>", "pbx", 5036, "<none>", "<none>"},
        {"bob@10.0.0.1/200", "bob", "<none>", "10.0.0.1", 5036, "200", "<none>"},
        {"pbx/100/ignored", "<none>", "<none>", "pbx", 5036, "100", "<none>"},
        {"pbx//100", "<none>", "<none>", "pbx", 5036, "100", "<none>"},  // runs cut once
        {":pw@pbx", "pw", "<none>", "pbx", 5036, "<none>", "<none>"},    // no empty first field
        {"pbx:abc/1", "<none>", "<none>", "pbx", 0, "1", "<none>"},      // no digits: port 0
        {"pbx/", "<none>", "<none>", "pbx", 5036, "<none>", "<none>"},
    };
    for (const Case& c : cases) {
        std::string copy = c.dial;
        IaxDialFields fields{};
        ASSERT_EQ(IaxParseDialString(copy.data(), &fields), 0) << c.dial;
        EXPECT_EQ(Field(fields.username), c.username) << c.dial;
        EXPECT_EQ(Field(fields.secret), c.secret) << c.dial;
        EXPECT_EQ(Field(fields.host), c.host) << c.dial;
        EXPECT_EQ(fields.port, c.port) << c.dial;
        EXPECT_EQ(Field(fields.exten), c.exten) << c.dial;
        EXPECT_EQ(Field(fields.context), c.context) << c.dial;
    }
}

TEST(DialStringTest, NoHostOrEmptyPortIsRefused)
{
    struct Case {
        const char* dial;
        const char* message;
    } cases[] = {
        {"alice:pw@", "Invalid hostname: "},
        {"alice@/100", "Invalid hostname: "},
        {"", "Invalid hostname: "},
        {"pbx:/100", "Invalid hostname: pbx:"},
        {"alice@:4569", "Invalid hostname: :4569"},
        // No address part: the number must never be taken for the server.
        {"/600", "Invalid hostname: "},
        {"/", "Invalid hostname: "},
        {"//pbx//100", "Invalid hostname: "},
        {"/127.0.0.1", "Invalid hostname: "},
    };
    for (const Case& c : cases) {
        std::string copy = c.dial;
        IaxDialFields fields{};
        EXPECT_EQ(IaxParseDialString(copy.data(), &fields), -1) << c.dial;
        EXPECT_STREQ(IaxLastError, c.message) << c.dial;
    }
}

}  // namespace
