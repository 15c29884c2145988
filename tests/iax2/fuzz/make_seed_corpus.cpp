// Writes the seed corpus of the version-2 receive-path fuzz target: one
// file per conversation the exchange might hold with the endpoint, in the
// input layout of receive_fuzz_input.h, into the directory given.
#include <cstdio>
#include <string>
#include <vector>

#include "iax2/codes.h"
#include "iax2/ies.h"
#include "iax2/wire.h"
#include "tests/iax2/fuzz/receive_fuzz_input.h"

namespace {

using namespace iax2;
using namespace fuzz2;

struct Conversation {
    std::vector<uint8_t> bytes;
    uint8_t oseqno = 0;
    void Add(const Bytes& datagram, uint8_t flags = kUserActs, uint8_t stepTens = 2)
    {
        bytes.insert(bytes.end(),
                     {flags, stepTens, uint8_t(datagram.size() >> 8), uint8_t(datagram.size())});
        bytes.insert(bytes.end(), datagram.begin(), datagram.end());
    }
    void Full(uint16_t dest, uint8_t type, uint32_t subclass, const Bytes& data = {},
              uint8_t iseqno = 1)
    {
        Bytes frame;
        AppendFull({kExchangeCall, dest, false, uint32_t(bytes.size() + 5), oseqno++, iseqno, type,
                    subclass},
                   data, &frame);
        Add(frame);
    }
};

void Write(const std::string& directory, int index, const Conversation& conversation)
{
    const std::string name = directory + "/seed-" + std::to_string(index);
    if (FILE* file = fopen(name.c_str(), "wb")) {
        fwrite(conversation.bytes.data(), 1, conversation.bytes.size(), file);
        fclose(file);
    }
}

Conversation Call()
{
    Conversation c;
    c.Full(kOutgoingCall, kTypeCommand, kAuthReq,
           IeWriter().U16(kIeAuthMethods, kAuthMd5).Text(kIeChallenge, "1234").bytes());
    c.Full(kOutgoingCall, kTypeCommand, kAccept, IeWriter().U32(kIeFormat, kFormatUlaw).bytes(), 2);
    c.Full(kOutgoingCall, kTypeControl, kCtrlRinging, {}, 2);
    c.Full(kOutgoingCall, kTypeVoice, kFormatUlaw, Bytes(160, 0xFF), 2);
    Bytes mini;
    AppendMini({kExchangeCall, 300}, Bytes(160, 0x7F), &mini);
    c.Add(mini);
    c.Full(kOutgoingCall, kTypeControl, kCtrlAnswer, {}, 2);
    c.Full(kOutgoingCall, kTypeCommand, kQuelch, {}, 3);
    c.Full(kOutgoingCall, kTypeCommand, kUnquelch, {}, 3);
    c.Full(kOutgoingCall, kTypeCommand, kTxReq, {}, 3);
    c.Full(kOutgoingCall, kTypeCommand, kHangup, IeWriter().Text(kIeCause, "bye").bytes(), 4);
    return c;
}

Conversation Registration()
{
    Conversation c;
    Bytes token;
    AppendFull({0, kRegistrationCall, false, 3, 0, 1, kTypeCommand, kCallToken},
               IeWriter().Text(kIeCallToken, "token").bytes(), &token);
    c.Add(token);
    c.Full(kRegistrationCall, kTypeCommand, kRegAuth,
           IeWriter()
               .Text(kIeUsername, "agent")
               .U16(kIeAuthMethods, kAuthMd5)
               .Text(kIeChallenge, "9")
               .bytes());
    c.Full(kRegistrationCall, kTypeCommand, kRegAck, IeWriter().U16(kIeRefresh, 60).bytes(), 2);
    Bytes incoming;
    AppendFull(
        {0x3000, 0, false, 9, 0, 0, kTypeCommand, kNew},
        IeWriter().U16(kIeVersion, 2).Text(kIeCallingNumber, "5").U32(kIeCapability, 0xE).bytes(),
        &incoming);
    c.Add(incoming);
    Bytes poke;
    AppendFull({0x3001, 0, false, 9, 0, 0, kTypeCommand, kPoke}, {}, &poke);
    c.Add(poke, kFromStranger);
    return c;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    Write(argv[1], 0, Call());
    Write(argv[1], 1, Registration());
    return 0;
}
