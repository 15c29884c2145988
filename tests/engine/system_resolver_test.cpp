// The system's resolver in the background: answers come on the event loop,
// never from inside Lookup, and a cancelled look-up never answers.
#include "engine/name_resolver.h"
#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include <optional>

namespace velnar {
namespace {

using test::PumpUntil;

// "localhost" is in the hosts file, so no name server is needed; names under
// ".invalid" never resolve.
TEST(SystemResolver, AnswersOnTheEventLoopWithTheDottedAddressOrNothing)
{
    struct Row {
        const char* name;
        const char* address;
    } rows[] = {{"localhost", "127.0.0.1"}, {"nosuchhost.invalid", ""}};
    auto resolver = MakeSystemResolver();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<std::string> answer;
        resolver->Lookup(row.name, [&](const std::string& address) { answer = address; });
        EXPECT_FALSE(answer);
        ASSERT_TRUE(PumpUntil([&] { return answer.has_value(); }, 30000));
        EXPECT_EQ(*answer, row.address);
    }
}

TEST(SystemResolver, CancelledOrReplacedLookupNeverAnswers)
{
    auto resolver = MakeSystemResolver();
    int cancelledAnswers = 0;
    resolver->Lookup("localhost", [&](const std::string&) { ++cancelledAnswers; });
    resolver->Cancel();
    resolver->Lookup("localhost", [&](const std::string&) { ++cancelledAnswers; });
    std::optional<std::string> answer;
    resolver->Lookup("localhost", [&](const std::string& address) { answer = address; });
    ASSERT_TRUE(PumpUntil([&] { return answer.has_value(); }, 30000));
    EXPECT_EQ(*answer, "127.0.0.1");
    // Another round of the loop gives a stray answer every chance to arrive.
    resolver->Lookup("localhost", [&](const std::string& address) { answer = address; });
    answer.reset();
    ASSERT_TRUE(PumpUntil([&] { return answer.has_value(); }, 30000));
    EXPECT_EQ(cancelledAnswers, 0);
}

}  // namespace
}  // namespace velnar
