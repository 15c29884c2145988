// Datagram bytes through the library's receive path, from a fresh state or
// from a call in progress (see receive_fuzz_input.h). No socket is open, so
// the library's answers go nowhere; every event is released and the whole
// library state is reset after each input, so nothing carries over.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "iax/iax.h"
#include "iax/testing.h"
#include "tests/iax/fuzz/receive_fuzz_input.h"
#include "tools/peer/peer_frame.h"

namespace {

using namespace receivefuzz;

uint32_t g_fakeMs = 0;
uint16_t g_peerSeq = 0;
uint32_t FakeTicks()
{
    return g_fakeMs;
}

sockaddr_in Address(uint32_t host, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(host);
    a.sin_port = htons(port);
    return a;
}

void Release(IaxEvent* e)
{
    if (e)
        IaxFreeEvent(e);
}

void Feed(const iaxpeer::Bytes& datagram, const sockaddr_in& from)
{
    Release(IaxHandleDatagram(datagram.data(), static_cast<int>(datagram.size()), &from));
    if (!IaxSessionIndexIsConsistent())
        __builtin_trap();  // a session lost to its lookup
}

// Hands out everything the timer list has come to.
void Drain()
{
    for (int i = 0; i < 1000; ++i) {
        IaxEvent* e = IaxNextEvent(0);
        if (!e)
            return;
        Release(e);
    }
}

iaxpeer::Bytes FromPeer(uint8_t type, uint32_t subclass, const std::string& payload)
{
    iaxpeer::FullHeader h{kPeerCall,   kOurCall, g_fakeMs % 100000,
                          g_peerSeq++, type,     iaxpeer::CompressSubclass(subclass)};
    return iaxpeer::BuildFull(h, iaxpeer::ToBytes(payload));
}

// A call placed to the peer, accepted, with voice flowing; optionally with a
// transfer to a second peer under way.
void SetUpCall(bool transfer)
{
    IaxSession* s = IaxNewSession();
    if (!s)
        return;
    IaxPlaceCall(s, nullptr, "alice:sesame@127.0.0.1:4569/100", nullptr);
    sockaddr_in peer = Address(kPeerAddress, kPeerPort);
    Feed(FromPeer(iaxpeer::kIax, iaxpeer::kAccept, "formats=2;"), peer);
    Feed(FromPeer(iaxpeer::kVoice, iaxpeer::kGsmFormat, std::string(33, '\xD0')), peer);
    if (transfer)
        Feed(FromPeer(iaxpeer::kIax, iaxpeer::kTxReq,
                      "remip=127.0.0.2;remport=" + std::to_string(kTransferPort) +
                          ";remcall=" + std::to_string(kTransferCall) + ";"),
             peer);
}

}  // namespace

// The library's diagnostics on standard output ("Scheduling retransmission")
// would cost more than the run itself; libFuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    g_fakeMs = 1000000;
    g_peerSeq = 0;
    IaxSetTickSource(FakeTicks);
    IaxSetFormats(2);
    uint8_t setup = data[0];
    if (setup & kCallInProgress)
        SetUpCall((setup & kTransferUnderWay) != 0);
    uint32_t stepMs = static_cast<uint32_t>(setup >> 2) * kStepUnitMs;

    sockaddr_in peer = Address(kPeerAddress, kPeerPort);
    sockaddr_in transferPeer = Address(kTransferAddress, kTransferPort);
    size_t at = 1;
    while (at + 2 <= size) {
        uint16_t header = static_cast<uint16_t>(data[at] << 8 | data[at + 1]);
        at += 2;
        size_t length = header & 0x7FFF;
        if (length > size - at)
            length = size - at;
        const sockaddr_in& from = (header & kFromTransferPeer) ? transferPeer : peer;
        Release(IaxHandleDatagram(data + at, static_cast<int>(length), &from));
        at += length;
        g_fakeMs += stepMs;
        Drain();
    }
    // Let every resend, time-out and parked event come due.
    for (int i = 0; i < 12; ++i) {
        g_fakeMs += 10000;
        Drain();
    }
    IaxResetForTesting();
    return 0;
}
