// Shared set-up of the loopback tests: the library's real socket on an
// ephemeral port of 127.0.0.1, a scripted peer on another, and a fake tick
// source that only the test advances. Peer and library read the same fake
// clock, so the peer's time stamps track the library's arrival times, every
// delay the jitter buffer sees is 0 and events come out at once.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <string>

#include "iax/iax.h"
#include "iax/testing.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/md5_reference.h"

namespace loopback {

using iaxpeer::Bytes;
using iaxpeer::IaxTestPeer;
using iaxpeer::PeerFrame;

struct EventDeleter {
    void operator()(IaxEvent* e) const { IaxFreeEvent(e); }
};
using EventPtr = std::unique_ptr<IaxEvent, EventDeleter>;

constexpr int kWaitMs = 2000;
constexpr int kGsm = 2;
constexpr int kGsmFrameBytes = 33;

inline Bytes GsmFrame(uint8_t fill)
{
    Bytes frame(kGsmFrameBytes, fill);
    frame[0] = static_cast<uint8_t>(0xD0 | (fill & 0x0F));
    return frame;
}

inline Bytes EventBytes(const IaxEvent& e)
{
    return e.media.data ? Bytes(e.media.data, e.media.data + e.media.length) : Bytes{};
}

class LoopbackTest : public ::testing::Test {
protected:
    static inline uint32_t s_fakeMs = 0;
    static uint32_t FakeTicks() { return s_fakeMs; }

    void SetUp() override
    {
        s_fakeMs = 5000000;
        IaxSetTickSource(FakeTicks);
        m_libraryPort = IaxOpenSocket(-1);
        ASSERT_GT(m_libraryPort, 0) << IaxLastError;
        IaxSetFormats(kGsm);
        ASSERT_TRUE(m_peer.Ok());
        m_peer.SetAutoAck(true);
        m_peer.SetClock(FakeTicks);
    }

    void TearDown() override { IaxResetForTesting(); }

    static void Advance(uint32_t ms) { s_fakeMs += ms; }

    std::string PeerDial(const std::string& rest = "/100") const
    {
        return "127.0.0.1:" + std::to_string(m_peer.Port()) + rest;
    }

    static bool LibraryReadable(int waitMs)
    {
        pollfd p{IaxSocketHandle(), POLLIN, 0};
        return poll(&p, 1, waitMs) > 0;
    }

    // Calls IaxNextEvent until it yields an event, letting each datagram that
    // arrives within waitMs in; fails the test when the event has another type.
    EventPtr ExpectEvent(int type, int waitMs = kWaitMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (true) {
            EventPtr e(IaxNextEvent(0));
            if (e) {
                EXPECT_EQ(e->type, type) << "unexpected event type " << e->type;
                return e->type == type ? std::move(e) : nullptr;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0 || !LibraryReadable(static_cast<int>(left)))
                break;
        }
        ADD_FAILURE() << "no event of type " << type << " within " << waitMs << " ms";
        return nullptr;
    }

    // Lets every datagram already sent to the library in and checks that none
    // of them yields an event.
    void ExpectNoEvent()
    {
        for (int i = 0; i < 100; ++i) {
            EventPtr e(IaxNextEvent(0));
            EXPECT_FALSE(e) << "unexpected event type " << e->type;
            if (!LibraryReadable(20))
                return;
        }
    }

    // A call placed by the library and accepted by the peer. The NEW and the
    // ACCEPT have been consumed; the session is the library's.
    IaxSession* EstablishCall(const std::string& dial = "")
    {
        m_peer.StartCall();
        IaxSession* s = IaxNewSession();
        EXPECT_NE(s, nullptr);
        std::string dialString = dial.empty() ? PeerDial() : dial;
        EXPECT_EQ(IaxPlaceCall(s, nullptr, dialString.c_str(), nullptr), 0) << IaxLastError;
        auto newFrame = m_peer.ExpectIax(iaxpeer::kNew);
        EXPECT_TRUE(newFrame) << m_peer.LastError();
        m_peer.SendIax(iaxpeer::kAccept, "formats=2;", true);
        EXPECT_TRUE(ExpectEvent(EvAccept));
        return s;
    }

    int m_libraryPort = 0;
    IaxTestPeer m_peer;
};

}  // namespace loopback
