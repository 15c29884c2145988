// Layer: bottom. The library's one UDP socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "iax/error.h"
#include "iax/iax.h"
#include "iax/socket.h"

int IaxSocket = -1;

namespace {

int FailAndClose(const char* message)
{
    close(IaxSocket);
    IaxSocket = -1;
    IaxSetError("%s", message);
    return -1;
}

}  // namespace

int IaxBindSocket(int port)
{
    if (IaxSocket >= 0)
        return 0;
    IaxSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (IaxSocket < 0) {
        IaxSocket = -1;
        IaxSetError("Unable to allocate UDP socket\n");
        return -1;
    }
    // A negative port asks for no particular port: bind port 0, so the
    // system picks a free one that getsockname then reports.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port == 0 ? IaxDefaultPort : port < 0 ? 0 : port));
    // On this system getsockname succeeds on an unbound socket, so a failed
    // bind (port in use) must be caught here.
    if (port > 65535 || bind(IaxSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return FailAndClose("Unable to determine bound port number.");
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (getsockname(IaxSocket, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0)
        return FailAndClose("Unable to determine bound port number.");
    int flags = fcntl(IaxSocket, F_GETFL, 0);
    if (flags < 0 || fcntl(IaxSocket, F_SETFL, flags | O_NONBLOCK) != 0)
        return FailAndClose("Unable to set non-blocking mode.");
    return ntohs(bound.sin_port);
}

void IaxCloseSocket(void)
{
    if (IaxSocket >= 0)
        close(IaxSocket);
    IaxSocket = -1;
}

int IaxSocketHandle(void)
{
    return IaxSocket;
}

namespace {
IaxSendHook sendHook = nullptr;
}

void IaxSetSendHookForTesting(IaxSendHook hook)
{
    sendHook = hook;
}

int IaxSendDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to)
{
    if (sendHook) {
        sendHook(bytes, lengthBytes, to);
        return lengthBytes;
    }
    if (IaxSocket < 0)
        return -1;
    ssize_t sent = sendto(IaxSocket, bytes, static_cast<size_t>(lengthBytes), 0,
                          reinterpret_cast<const sockaddr*>(to), sizeof *to);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int IaxReceiveDatagram(unsigned char* buffer, int capacityBytes, sockaddr_in* from,
                       bool* wouldBlock)
{
    *wouldBlock = false;
    socklen_t fromLength = sizeof *from;
    ssize_t received = recvfrom(IaxSocket, buffer, static_cast<size_t>(capacityBytes), 0,
                                reinterpret_cast<sockaddr*>(from), &fromLength);
    if (received >= 0)
        return static_cast<int>(received);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        *wouldBlock = true;
        return 0;
    }
    IaxSetError("Read error on network socket: %s", strerror(errno));
    return -1;
}

int IaxWaitReadable(void)
{
    if (IaxSocket < 0)
        return -1;
    pollfd descriptor{IaxSocket, POLLIN, 0};
    int ready;
    do
        ready = poll(&descriptor, 1, -1);
    while (ready < 0 && errno == EINTR);
    return ready > 0 ? 0 : -1;
}
