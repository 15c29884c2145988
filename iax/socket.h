// The library's one UDP socket. Bottom layer: calls only the error message.
#pragma once

#include <netinet/in.h>

extern int IaxSocket;

// Opens and binds the socket as IaxOpenSocket describes (which also seeds the
// call numbers): the bound port, 0 when open already, -1 on failure.
int IaxBindSocket(int port);

int IaxSendDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to);
// Receives one datagram into buffer (capacity bytes); returns its length,
// 0 with *wouldBlock set when nothing waits, or -1 after setting the error.
int IaxReceiveDatagram(unsigned char* buffer, int capacityBytes, sockaddr_in* from,
                       bool* wouldBlock);
int IaxWaitReadable(void);

// Every datagram the library sends goes to the hook instead of the socket
// (null: to the socket again, also after IaxResetForTesting), so that a
// fuzzer sees what would go out without any network.
using IaxSendHook = void (*)(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to);
void IaxSetSendHookForTesting(IaxSendHook hook);
