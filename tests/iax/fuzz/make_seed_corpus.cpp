// Writes the seed corpus of the receive-path fuzz target: valid frames of
// every type and subclass the library handles, in the input layout of
// receive_fuzz_input.h, one file per input, into the directory given.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/iax/fuzz/receive_fuzz_input.h"
#include "tools/peer/peer_frame.h"

namespace {

using namespace iaxpeer;
using namespace receivefuzz;

struct Record {
    Bytes datagram;
    bool fromTransferPeer = false;
};

Bytes Full(uint8_t type, uint32_t subclass, const std::string& payload = "",
           uint16_t dest = kOurCall, uint16_t seq = 1, bool nul = false)
{
    FullHeader h{kPeerCall, dest, 40, seq, type, CompressSubclass(subclass)};
    return BuildFull(h, ToBytes(payload, nul));
}

Bytes FromTransferPeer(uint32_t subclass)
{
    FullHeader h{kTransferCall, kOurCall, 5, 0, kIax, CompressSubclass(subclass)};
    return BuildFull(h);
}

bool Write(const std::string& dir, int index, uint8_t setup, const std::vector<Record>& records)
{
    Bytes input{setup};
    for (const Record& r : records) {
        uint16_t header =
            static_cast<uint16_t>(r.datagram.size() | (r.fromTransferPeer ? kFromTransferPeer : 0));
        input.push_back(static_cast<uint8_t>(header >> 8));
        input.push_back(static_cast<uint8_t>(header));
        input.insert(input.end(), r.datagram.begin(), r.datagram.end());
    }
    char name[32];
    std::snprintf(name, sizeof name, "/seed-%03d", index);
    FILE* f = std::fopen((dir + name).c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(input.data(), 1, input.size(), f) == input.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<std::vector<Record>> CallInputs()
{
    const std::string gsm(33, '\xD3');
    std::vector<std::vector<Record>> inputs = {
        {{Full(kDtmf, '5')}},
        {{Full(kVoice, kGsmFormat, gsm)}, {BuildMini(kPeerCall, 60, ToBytes(gsm))}},
        {{BuildMini(kPeerCall, 60, ToBytes(gsm))}},
        {{Full(kText, 7, "hello", kOurCall, 1, true)}},
        {{Full(kText, 7, std::string(8300, 't'), kOurCall, 1, true)}},
        {{Full(kImage, 1u << 16, "img")}},
        {{Full(kIax, kAck, "", kOurCall, 0)}},
        {{Full(kIax, kHangup, "Normal clearing")}},
        {{Full(kIax, kReject, "busy")}},
        {{Full(kIax, kAuthReq, "methods=md5,plaintext;challenge=12345;username=alice;")}},
        {{Full(kIax, kAuthReq, "methods=plaintext;username=bob;")}},
        {{Full(kIax, kRegAuth, "methods=md5;challenge=123456789012345;")}},
        {{Full(kIax, kRegAck, "yourip=127.0.0.1;yourport=5036;refresh=60;callerid=Alice;")}},
        {{Full(kIax, kRegRej, "refresh=30;")}},
        {{Full(kIax, kDpRep, "number=100;status=exists;ignorepat=yes;expirey=300;")}},
        {{Full(kIax, kDpRep, "status=maybe;expirey=-5;")}},
        {{Full(kIax, kTxReq, "remip=127.0.0.2;remport=4570;remcall=77;")}},
        {{Full(kIax, kTxReq, "remip=300.1.2;remport=1;")}},
        {{Full(kIax, kTxRel, "peercallno=77;")}},
        {{Full(kIax, kLagRp, "")}},
        {{Full(kIax, 17, "")}, {Full(kIax, 99, "")}, {Full(3, 0)}, {Full(200, 0x87)}},
        {{Bytes(11, 0x80)}, {Bytes{0x12, 0x34, 0x00}}},
    };
    for (uint32_t c : std::vector<uint32_t>{kRinging, kAnswer, kBusy, kCongestion, 99})
        inputs.push_back({{Full(kControl, c)}});
    for (uint32_t h : std::vector<uint32_t>{kHtmlUrl, kHtmlLinkUrl})
        inputs.push_back({{Full(kHtml, h, "http://x/", kOurCall, 1, true)}});
    for (uint32_t h : std::vector<uint32_t>{kHtmlLoadComplete, kHtmlUnlink, kHtmlLinkReject, 2})
        inputs.push_back({{Full(kHtml, h)}});
    for (uint32_t m :
         std::vector<uint32_t>{kPing, kPong, kAccept, kInval, kLagRq, kAuthRep, kRegReq, kDpReq,
                               kDial, kTxReady, kTxRej, kQuelch, kUnquelch, kTxCnt, kTxAcc})
        inputs.push_back({{Full(kIax, m)}});
    return inputs;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int index = 0;
    bool ok = true;
    // A fresh library: frames that may open a session.
    ok &= Write(dir, index++, 0,
                {{Full(kIax, kNew,
                       "callerid=Bob;dnid=200;exten=100;context=default;username=bob;language=en;"
                       "formats=2;version=1;",
                       kUnknownCall, 0)}});
    ok &= Write(dir, index++, 0x04,
                {{Full(kIax, kNew, "exten=100;", kUnknownCall, 0)},
                 {Full(kIax, kPing, "", kUnknownCall, 1)}});
    ok &= Write(dir, index++, 0,
                {{Full(kVoice, kGsmFormat, std::string(33, '\xD1'), kUnknownCall, 0)}});
    // A call in progress: every frame type and subclass, with and without time passing.
    for (const auto& records : CallInputs()) {
        ok &= Write(dir, index++, kCallInProgress, records);
        ok &= Write(dir, index++, kCallInProgress | (3 << 2), records);
    }
    // A transfer under way: both probes from the new peer, then the release.
    ok &= Write(dir, index++, kCallInProgress | kTransferUnderWay,
                {{FromTransferPeer(kTxCnt), true},
                 {FromTransferPeer(kTxAcc), true},
                 {Full(kIax, kTxRel, "peercallno=77;", kOurCall, 5)}});
    ok &= Write(dir, index++, kCallInProgress | kTransferUnderWay | (20 << 2),
                {{FromTransferPeer(kTxCnt), true}});
    if (!ok) {
        std::perror("writing the seed corpus");
        return 1;
    }
    std::printf("%d seeds written to %s\n", index, dir.c_str());
    return 0;
}
