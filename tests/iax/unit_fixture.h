// Shared set-up of the library's unit tests: fresh library state, a tick
// source that only the test advances, and (on request) the library socket
// and a peer socket, both real UDP on 127.0.0.1 with ephemeral ports.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "iax/iax.h"
#include "iax/testing.h"
#include "iax/wire.h"

namespace iaxunit {

using Bytes = std::vector<unsigned char>;

struct EventDeleter {
    void operator()(IaxEvent* event) const { IaxFreeEvent(event); }
};
using EventPtr = std::unique_ptr<IaxEvent, EventDeleter>;

inline Bytes Frame(uint16_t source, uint16_t dest, uint32_t timestamp, uint16_t sequence,
                   uint8_t frameType, uint8_t subclass, const std::string& payload = "")
{
    Bytes bytes(IaxFullHeaderBytes);
    IaxEncodeFullHeader(bytes.data(),
                        IaxFullHeader{source, dest, timestamp, sequence, frameType, subclass});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

inline IaxFullHeader Header(const Bytes& bytes)
{
    IaxFullHeader header{};
    EXPECT_EQ(IaxDecodeFullHeader(bytes.data(), static_cast<int>(bytes.size()), &header), 0);
    return header;
}

inline std::string Payload(const Bytes& bytes)
{
    return bytes.size() > 12 ? std::string(bytes.begin() + 12, bytes.end()) : std::string();
}

class IaxUnitTest : public ::testing::Test {
protected:
    static inline uint32_t fakeMs = 0;
    static uint32_t FakeTicks() { return fakeMs; }

    void SetUp() override
    {
        IaxResetForTesting();
        fakeMs = 5000000;
        IaxSetTickSource(FakeTicks);
    }

    void TearDown() override
    {
        IaxResetForTesting();
        if (peerSocket >= 0)
            close(peerSocket);
    }

    static void Advance(uint32_t ms) { fakeMs += ms; }

    void OpenSockets()
    {
        libraryPort = IaxOpenSocket(-1);
        ASSERT_GT(libraryPort, 0) << IaxLastError;
        peerSocket = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(peerSocket, 0);
        peerAddress = sockaddr_in{};
        peerAddress.sin_family = AF_INET;
        peerAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(peerSocket, reinterpret_cast<sockaddr*>(&peerAddress), sizeof peerAddress),
                  0);
        socklen_t length = sizeof peerAddress;
        getsockname(peerSocket, reinterpret_cast<sockaddr*>(&peerAddress), &length);
    }

    int PeerPort() const { return ntohs(peerAddress.sin_port); }
    std::string PeerDial(const std::string& rest = "/100") const
    {
        return "127.0.0.1:" + std::to_string(PeerPort()) + rest;
    }

    // A datagram that the library has sent to the peer. Loopback delivery is
    // immediate; the wait only bounds a failing test.
    Bytes Receive()
    {
        pollfd descriptor{peerSocket, POLLIN, 0};
        if (poll(&descriptor, 1, 2000) <= 0) {
            ADD_FAILURE() << "no datagram from the library";
            return {};
        }
        Bytes bytes(70000);
        ssize_t length = recv(peerSocket, bytes.data(), bytes.size(), 0);
        bytes.resize(length < 0 ? 0 : static_cast<size_t>(length));
        return bytes;
    }

    bool PeerHasNothing()
    {
        pollfd descriptor{peerSocket, POLLIN, 0};
        return poll(&descriptor, 1, 0) == 0;
    }

    void DrainPeer()
    {
        while (!PeerHasNothing())
            Receive();
    }

    void SendToLibrary(const Bytes& bytes)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(libraryPort));
        sendto(peerSocket, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }

    // Runs bytes through the receive path as if they came from the peer.
    EventPtr Inject(const Bytes& bytes)
    {
        return EventPtr(
            IaxHandleDatagram(bytes.data(), static_cast<int>(bytes.size()), &peerAddress));
    }

    // A session that has called the peer; the NEW is taken off the peer socket.
    IaxSession* CallPeer()
    {
        IaxSession* session = IaxNewSession();
        EXPECT_EQ(IaxPlaceCall(session, nullptr, PeerDial().c_str(), nullptr), 0) << IaxLastError;
        Receive();
        return session;
    }

    int libraryPort = 0;
    int peerSocket = -1;
    sockaddr_in peerAddress{};
};

}  // namespace iaxunit
