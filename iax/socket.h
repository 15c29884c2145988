// The library's one UDP socket. Bottom layer: calls only the error message.
#pragma once

#include <netinet/in.h>

extern int IaxSocket;

int IaxSendDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to);
// Receives one datagram into buffer (capacity bytes); returns its length,
// 0 with *wouldBlock set when nothing waits, or -1 after setting the error.
int IaxReceiveDatagram(unsigned char* buffer, int capacityBytes, sockaddr_in* from,
                       bool* wouldBlock);
int IaxWaitReadable(void);
