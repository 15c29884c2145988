// The system's resolver in the background: answers come on the event loop,
// never from inside Lookup, and a cancelled look-up never answers.
#include "engine/name_resolver.h"
#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include <optional>

namespace velnar {
namespace {

// "localhost" is in the hosts file, so no name server is needed; names under
// ".invalid" never resolve.
TEST(SystemResolver, AnswersLaterWithTheDottedAddressOrNothingAndNotWhenCancelled)
{
    auto resolver = MakeSystemResolver();
    int cancelledAnswers = 0;
    resolver->Lookup("localhost", [&](const std::string&) { ++cancelledAnswers; });
    resolver->Cancel();
    for (auto [name, address] : {std::pair{"localhost", "127.0.0.1"}, {"nosuchhost.invalid", ""}}) {
        std::optional<std::string> answer;
        resolver->Lookup(name, [&](const std::string& found) { answer = found; });
        EXPECT_FALSE(answer);
        ASSERT_TRUE(test::PumpUntil([&] { return answer.has_value(); }, 30000)) << name;
        EXPECT_EQ(*answer, address);
    }
    EXPECT_EQ(cancelledAnswers, 0);
}

}  // namespace
}  // namespace velnar
