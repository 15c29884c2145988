// One row per nasty server address or number: only ports 1 to 65535 are
// called, and nothing the call request cannot carry is dialled.
#include "settings/call_target.h"

#include <gtest/gtest.h>

#include <string>

namespace velnar {
namespace {

TEST(CallTargetTest, OnlyPortsOneTo65535AreCalled)
{
    struct Case {
        const char* server;
        const char* host;
        int port;
    } cases[] = {
        {"pbx", "pbx", 5036},        {"pbx:4569", "pbx", 4569}, {"pbx:1", "pbx", 1},
        {"pbx:65535", "pbx", 65535}, {"pbx:65536", "pbx", 0},   {"pbx:70000", "pbx", 0},
        {"pbx:0", "pbx", 0},         {"pbx:", "pbx", 0},        {"pbx:abc", "pbx", 0},
        {"pbx:4569x", "pbx", 0},     {"pbx:-1", "pbx", 0},      {"pbx:99999999999", "pbx", 0},
        {"pbx:+80", "pbx", 0},       {":4569", "", 4569},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        const CallTarget target = MakeCallTarget({"u", "p", c.server, 1000}, "600@office");
        EXPECT_EQ(target.host, c.host);
        EXPECT_EQ(target.port, c.port);
        EXPECT_EQ(target.number, "600");
        EXPECT_EQ(target.context, "office");
    }
}

TEST(CallTargetTest, NumbersAndSecretsTheRequestCannotCarry)
{
    for (const char* number : {"600", "*97#", "600/1", "+44 20", ""})
        EXPECT_TRUE(IsDialableNumber(number)) << number;
    for (const char* number : {"600;username=mallory", "a=b", "600\r", "6\x7f"})
        EXPECT_FALSE(IsDialableNumber(number)) << number;
    EXPECT_FALSE(
        IsDialableNumber(std::string("6\0"
                                     "0",
                                     3)));
    EXPECT_TRUE(FitsSecretLength(std::string(79, 'x')));
    EXPECT_FALSE(FitsSecretLength(std::string(80, 'x')));
}

}  // namespace
}  // namespace velnar
