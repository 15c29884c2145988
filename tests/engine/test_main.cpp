// The engine runs on a Qt event loop (socket notifier, timer, posted capture
// completions), so every engine test process has one application object.
// The IAX library's state is process-wide: it is reset after every test, so
// that the tests also hold when run in one process.
#include "iax/testing.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

class LibraryReset : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override { IaxResetForTesting(); }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new LibraryReset);
    return RUN_ALL_TESTS();
}
