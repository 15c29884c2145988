#include "tests/support/library_port.h"

#include "iax/iax.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velnar::test {

uint16_t LibraryPort()
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(IaxSocketHandle(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

}  // namespace velnar::test
