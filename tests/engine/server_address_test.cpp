// Cutting the server's name out of a dial string and putting the address
// found for it in its place.
#include "engine/server_address.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

TEST(ServerAddress, NameIsCutOutAndReplacedKeepingTheRest)
{
    struct Row {
        const char* dial;
        const char* name;      // to look up; empty when none is needed
        const char* replaced;  // with the name replaced by 10.1.2.3
    } rows[] = {
        {"pbx.example/600", "pbx.example", "10.1.2.3/600"},
        {"al:pw@pbx.example:4570/600@ctx", "pbx.example", "al:pw@10.1.2.3:4570/600@ctx"},
        {"127.0.0.1:4570/600", "", "10.1.2.3:4570/600"},
        {"10.0.0.1", "", "10.1.2.3"},
        {"/600", "", "/600"},
        {"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dial);
        EXPECT_EQ(ServerNameToLookUp(row.dial), row.name);
        EXPECT_EQ(WithServerAddress(row.dial, "10.1.2.3"), row.replaced);
    }
}

}  // namespace
}  // namespace velnar
