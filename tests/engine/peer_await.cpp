#include "tests/engine/peer_await.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace velnar::test {

namespace {

constexpr int kSliceMs = 5;

template <class Expect>
std::optional<iaxpeer::PeerFrame> Await(Expect expect, int maxWaitMs)
{
    QDeadlineTimer deadline(maxWaitMs);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        auto frame = expect(kSliceMs);
        if (frame || deadline.hasExpired())
            return frame;
    }
}

}  // namespace

std::optional<iaxpeer::PeerFrame> AwaitFull(iaxpeer::IaxTestPeer& peer, uint8_t type,
                                            uint32_t subclass, int maxWaitMs)
{
    return Await([&](int ms) { return peer.ExpectFull(type, subclass, ms); }, maxWaitMs);
}

std::optional<iaxpeer::PeerFrame> AwaitIax(iaxpeer::IaxTestPeer& peer, uint32_t message,
                                           int maxWaitMs)
{
    return AwaitFull(peer, iaxpeer::kIax, message, maxWaitMs);
}

std::optional<iaxpeer::PeerFrame> AwaitVoice(iaxpeer::IaxTestPeer& peer, int maxWaitMs)
{
    return Await([&](int ms) { return peer.ExpectVoice(ms); }, maxWaitMs);
}

std::optional<iaxpeer::PeerFrame> AwaitAck(iaxpeer::IaxTestPeer& peer,
                                           const iaxpeer::FullHeader& sent, int maxWaitMs)
{
    return Await([&](int ms) { return peer.ExpectAckOf(sent, ms); }, maxWaitMs);
}

}  // namespace velnar::test
