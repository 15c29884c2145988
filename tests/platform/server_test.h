// A test that needs the private sound server and an event loop; it skips
// itself when the server's variables are not set.
#pragma once

#include "tests/platform/audio_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace velnar::test {

class AudioServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTestAudioServer())
            GTEST_SKIP() << "no test audio server: source tools/test-audio-env.sh first";
    }

    int argc = 0;
    QCoreApplication app{argc, nullptr};
};

}  // namespace velnar::test
