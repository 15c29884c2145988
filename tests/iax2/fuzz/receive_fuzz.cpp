// libFuzzer target on the version-2 receive path: an endpoint that has
// registered and placed a call takes the input's datagrams from the
// exchange's address or a stranger's, on a clock the input moves, and its
// user acts on whatever it reports. Any crash, leak or sanitizer report is
// a finding.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "iax2/endpoint.h"
#include "tests/iax2/fuzz/receive_fuzz_input.h"

namespace {

uint64_t g_nowMs = 0;

// A socket standing for the exchange, so that replies land somewhere.
struct Sink {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    uint16_t port = 0;
    Sink()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    void Drain() const
    {
        uint8_t buffer[2048];
        while (recv(fd, buffer, sizeof buffer, 0) >= 0) {
        }
    }
};

void Act(iax2::Endpoint& endpoint, int call)
{
    static const std::vector<uint8_t> ulaw(160, 0xFF);
    endpoint.Answer(call);
    endpoint.SendVoice(call, iax2::kFormatUlaw, ulaw, 160);
    endpoint.SendDtmf(call, '7');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Sink sink;
    uint16_t nextNumber = fuzz2::kRegistrationCall;
    iax2::EndpointOptions options;
    options.clock = [] { return g_nowMs; };
    options.callNumbers = [&nextNumber] { return nextNumber++; };
    options.jitterDelayMs = 40;
    iax2::Endpoint endpoint(options);
    if (endpoint.Open(0) <= 0)
        return 0;
    const iax2::Peer exchange{0x7F000001, sink.port};
    const iax2::Peer stranger{0x7F000001, uint16_t(sink.port + 1)};
    endpoint.Register({"agent", "secret", "127.0.0.1", sink.port, 60});
    int lastCall =
        endpoint.PlaceCall({"agent", "secret", "127.0.0.1", sink.port, "100", "", "", "", {}});
    for (size_t at = 0; size - at >= 4;) {
        const uint8_t flags = data[at];
        g_nowMs += uint64_t(data[at + 1]) * 10;
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        at += 4;
        const size_t take = length < size - at ? length : size - at;
        endpoint.HandleDatagram(iax2::ByteView(data + at, take),
                                (flags & fuzz2::kFromStranger) ? stranger : exchange);
        at += take;
        endpoint.Service();
        for (iax2::Event event; endpoint.NextEvent(&event);)
            lastCall = event.call ? event.call : lastCall;
        if (flags & fuzz2::kUserActs)
            Act(endpoint, lastCall);
    }
    g_nowMs += 30000;
    endpoint.Service();
    endpoint.Hangup(lastCall);
    sink.Drain();
    return 0;
}
