// The endpoint's one UDP socket (IPv4, non-blocking). Layer: bottom; knows
// no frame layout.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace iax2 {

struct Peer {
    uint32_t address = 0;  // host order
    uint16_t port = 0;     // host order
    bool operator==(const Peer&) const = default;
};

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // port > 0 binds exactly that port, 0 an ephemeral one, -1 the
    // well-known port when it is free and an ephemeral one otherwise.
    // Returns the bound port, or -1 with the reason in *error.
    int Open(int port, std::string* error);
    void Close();
    int handle() const { return m_fd; }
    int port() const { return m_port; }

    int Send(const uint8_t* bytes, size_t length, Peer to) const;
    // A datagram's length (0 for an empty one), -1 when none waits.
    int Receive(uint8_t* buffer, size_t capacity, Peer* from) const;

private:
    int Bind(int port);
    int m_fd = -1;
    int m_port = 0;
};

// "a.b.c.d" to a host-order address; -1 when it is not a dotted quad.
int ParseDotted(const std::string& text, uint32_t* address);
std::string Dotted(uint32_t address);

}  // namespace iax2
