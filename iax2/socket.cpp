// Layer: bottom.
#include "iax2/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "iax2/codes.h"

namespace iax2 {

namespace {

sockaddr_in ToSockaddr(Peer peer)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(peer.address);
    address.sin_port = htons(peer.port);
    return address;
}

}  // namespace

UdpSocket::~UdpSocket()
{
    Close();
}

void UdpSocket::Close()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_port = 0;
}

int UdpSocket::Bind(int port)
{
    sockaddr_in address = ToSockaddr(Peer{INADDR_ANY, uint16_t(port)});
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    return m_port;
}

int UdpSocket::Open(int port, std::string* error)
{
    Close();
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        *error = std::string("cannot open a UDP socket: ") + strerror(errno);
        return -1;
    }
    if (port < 0 && Bind(kDefaultPort) > 0)
        return m_port;
    if (Bind(port < 0 ? 0 : port) > 0)
        return m_port;
    *error = "cannot bind UDP port " + std::to_string(port < 0 ? 0 : port) + ": " + strerror(errno);
    Close();
    return -1;
}

int UdpSocket::Send(const uint8_t* bytes, size_t length, Peer to) const
{
    const sockaddr_in address = ToSockaddr(to);
    const ssize_t sent =
        sendto(m_fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent == ssize_t(length) ? 0 : -1;
}

int UdpSocket::Receive(uint8_t* buffer, size_t capacity, Peer* from) const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const ssize_t got =
        recvfrom(m_fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&address), &length);
    if (got < 0)
        return -1;
    *from = Peer{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    return int(got);
}

int ParseDotted(const std::string& text, uint32_t* address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return -1;
    *address = ntohl(parsed.s_addr);
    return 0;
}

std::string Dotted(uint32_t address)
{
    in_addr value{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

}  // namespace iax2
