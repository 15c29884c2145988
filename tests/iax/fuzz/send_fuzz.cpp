// The sending side from what a person or a file gives it: settings text ->
// address split -> a call placed from separate fields -> NEW -> the
// server's AUTHREQ -> the answer, then a touch tone, a text and a hang-up.
// Every datagram goes to a send hook instead of the network; each property
// that fails traps, so libFuzzer reports the input.
//
// Input: byte 0 flags (bit 0 the server offers MD5, bit 1 plain text, bit 2
// it sends a challenge), byte 1 the touch-tone digit, then four texts
// separated by 0x1F: the settings file, the number, the challenge and the
// text message.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "iax/iax.h"
#include "iax/testing.h"
#include "settings/call_target.h"
#include "settings/settings_file.h"
#include "tests/support/md5_reference.h"
#include "tools/peer/peer_frame.h"

namespace {

using iaxpeer::PeerFrame;

constexpr char kSeparator = 0x1F;
constexpr uint16_t kServerCall = 0x1234;

struct Sent {
    PeerFrame frame;
    sockaddr_in to;
};
std::vector<Sent> g_sent;
std::string g_dir;

void Check(bool property)
{
    if (!property)
        __builtin_trap();
}

void Capture(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to)
{
    auto frame = iaxpeer::ParseDatagram(bytes, static_cast<size_t>(lengthBytes));
    Check(frame.has_value());
    g_sent.push_back({*frame, *to});
}

std::vector<std::string> Sections(const uint8_t* data, size_t size)
{
    std::vector<std::string> sections(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == kSeparator && sections.size() < 4)
            sections.emplace_back();
        else
            sections.back().push_back(static_cast<char>(data[i]));
    }
    sections.resize(4);
    return sections;
}

// What the library sees of a text: up to its first NUL.
std::string CText(const std::string& text)
{
    return std::string(text.c_str());
}

bool IsElementValue(const std::string& text)
{
    for (unsigned char c : text)
        if (c == ';' || c == '=' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool WriteFile(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

void RemoveFiles()
{
    unlink((g_dir + "/VOIP.set").c_str());
    unlink((g_dir + "/saved.set").c_str());
    rmdir(g_dir.c_str());
}

bool SameSettings(const velnar::StoredSettings& a, const velnar::StoredSettings& b)
{
    return a.user == b.user && a.password == b.password && a.server == b.server &&
           a.noisePosition == b.noisePosition;
}

// A host the system reads without asking a name server; anything else is
// replaced so that the run never waits on the network.
bool NumericAddress(const std::string& host, in_addr& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Strict "key=value;" reading; no key may appear twice.
bool ReadElements(const std::string& text, std::map<std::string, std::string>& elements)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t semi = text.find(';', at);
        const size_t eq = text.find('=', at);
        if (semi == std::string::npos || eq == std::string::npos || eq > semi)
            return false;
        const std::string value = text.substr(eq + 1, semi - eq - 1);
        if (value.find('=') != std::string::npos)
            return false;
        if (!elements.emplace(text.substr(at, eq - at), value).second)
            return false;
        at = semi + 1;
    }
    return true;
}

bool GoesTo(const Sent& sent, const sockaddr_in& server)
{
    return sent.to.sin_addr.s_addr == server.sin_addr.s_addr && sent.to.sin_port == server.sin_port;
}

void CheckNew(const velnar::CallTarget& target, const sockaddr_in& server)
{
    Check(g_sent.size() == 1 && GoesTo(g_sent[0], server));
    const PeerFrame& sent = g_sent[0].frame;
    Check(sent.Is(iaxpeer::kIax, iaxpeer::kNew) && sent.destCall == iaxpeer::kUnknownCall);
    const std::string text(sent.payload.begin(), sent.payload.end());
    std::map<std::string, std::string> elements;
    Check(ReadElements(text, elements));
    std::map<std::string, std::string> expected = {{"formats", "2"}, {"version", "1"}};
    const std::string user = CText(target.user), number = CText(target.number);
    const std::string context = CText(target.context);
    if (!user.empty())
        expected["username"] = user;
    if (!number.empty())
        expected["exten"] = expected["dnid"] = number;
    if (!context.empty())
        expected["context"] = context;
    // Exactly these keys with these values, each once: the password has no
    // place in the NEW, and no field can add a key of its own.
    Check(elements == expected);
}

void CheckAnswer(const velnar::CallTarget& target, uint8_t flags, const std::string& challenge)
{
    std::vector<std::string> replies;
    for (const Sent& sent : g_sent)
        if (sent.frame.Is(iaxpeer::kIax, iaxpeer::kAuthRep))
            replies.emplace_back(sent.frame.payload.begin(), sent.frame.payload.end());
    const std::string user = CText(target.user), password = CText(target.password);
    if (user.empty() || password.empty()) {
        Check(replies.empty());  // nothing to answer with: left to the phone
        return;
    }
    const bool md5 = (flags & 1) && (flags & 4);
    if (md5) {
        Check(replies.size() == 1 &&
              replies[0] == "md5secret=" + iaxpeer::Md5Hex(challenge + password) + ";");
    } else if (IsElementValue(password)) {
        Check(replies.size() == 1 && replies[0] == "secret=" + password + ";");
    } else {
        Check(replies.empty());
    }
}

void ServerChallenges(const velnar::CallTarget& target, uint8_t flags, const std::string& challenge,
                      const sockaddr_in& server)
{
    std::string text = "methods=";
    text += (flags & 1) ? "md5," : "";
    text += (flags & 2) ? "plaintext" : "";
    text += ";";
    if (flags & 4)
        text += "challenge=" + challenge + ";";
    text += "username=" + CText(target.user) + ";";
    iaxpeer::FullHeader header{kServerCall,
                               g_sent[0].frame.sourceCall,
                               3,
                               0,
                               iaxpeer::kIax,
                               iaxpeer::CompressSubclass(iaxpeer::kAuthReq)};
    const iaxpeer::Bytes datagram = iaxpeer::BuildFull(header, iaxpeer::ToBytes(text));
    g_sent.clear();
    IaxEvent* event =
        IaxHandleDatagram(datagram.data(), static_cast<int>(datagram.size()), &server);
    if (event)
        IaxFreeEvent(event);
    CheckAnswer(target, flags, challenge);
}

void SendOneOfEach(IaxSession* session, char digit, const std::string& message,
                   const sockaddr_in& server)
{
    g_sent.clear();
    Check(IaxSendTouchTone(session, digit) == 0);
    Check(g_sent.size() == 1 && GoesTo(g_sent[0], server) &&
          g_sent[0].frame.type == iaxpeer::kDtmf);
    g_sent.clear();
    Check(IaxSendText(session, message.c_str()) == 0);
    const std::string shown = CText(message).substr(0, IaxEventPayloadBytes - 1);
    iaxpeer::Bytes expected = iaxpeer::ToBytes(shown, true);
    Check(g_sent.size() == 1 && g_sent[0].frame.type == iaxpeer::kText &&
          g_sent[0].frame.payload == expected);
    g_sent.clear();
    Check(IaxHangUp(session, "") == 0);
    Check(g_sent.size() == 1 && g_sent[0].frame.Is(iaxpeer::kIax, iaxpeer::kHangup) &&
          GoesTo(g_sent[0], server));
}

// Settings survive a save and a load unchanged.
bool LoadAndRoundTrip(const std::string& text, velnar::StoredSettings& loaded)
{
    const std::string path = g_dir + "/VOIP.set";
    if (!WriteFile(path, text) || !velnar::LoadSettingsFile(path, loaded))
        return false;
    Check(velnar::SaveSettingsFile(g_dir + "/saved.set", loaded));
    velnar::StoredSettings again;
    Check(velnar::LoadSettingsFile(g_dir + "/saved.set", again) && SameSettings(loaded, again));
    return true;
}

bool Refused(const velnar::CallTarget& target)
{
    const std::string user = CText(target.user), password = CText(target.password);
    return target.port < 1 || target.port > 65535 || user.size() > 79 || password.size() > 79 ||
           !IsElementValue(user) || !IsElementValue(CText(target.number)) ||
           !IsElementValue(CText(target.context));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::freopen("/dev/null", "w", stdout);
    // Two small files per input: in memory where the system offers it.
    char shared[] = "/dev/shm/velnar-send-fuzz-XXXXXX";
    char temporary[] = "/tmp/velnar-send-fuzz-XXXXXX";
    const char* dir = mkdtemp(shared);
    if (!dir)
        dir = mkdtemp(temporary);
    if (!dir)
        std::abort();
    g_dir = dir;
    std::atexit(RemoveFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t flags = data[0];
    const char digit = static_cast<char>(data[1]);
    std::vector<std::string> sections = Sections(data + 2, size - 2);
    velnar::StoredSettings loaded;
    if (!LoadAndRoundTrip(sections[0], loaded))
        return 0;
    velnar::CallTarget target = velnar::MakeCallTarget(loaded, sections[1]);
    in_addr address{};
    if (!NumericAddress(CText(target.host), address)) {
        target.host = "127.0.0.1";
        inet_pton(AF_INET, target.host.c_str(), &address);
    }
    sockaddr_in server{};
    server.sin_addr = address;
    server.sin_port = htons(static_cast<uint16_t>(target.port));

    IaxResetForTesting();
    IaxSetFormats(2);
    IaxSetSendHookForTesting(Capture);
    g_sent.clear();
    IaxSession* session = IaxNewSession();
    const IaxCallFields fields{target.user.c_str(),   target.password.c_str(),
                               target.host.c_str(),   target.port,
                               target.number.c_str(), target.context.c_str()};
    const int placed = IaxPlaceCallFields(session, &fields);
    Check((placed == 0) == !Refused(target));
    if (placed == 0) {
        CheckNew(target, server);
        std::string challenge;
        for (char c : CText(sections[2]))
            if (c != ';' && c != '=')
                challenge.push_back(c);
        ServerChallenges(target, flags, challenge, server);
        if (IaxSessionIsLive(session))
            SendOneOfEach(session, digit, sections[3], server);
    } else {
        Check(g_sent.empty());
    }
    IaxResetForTesting();
    g_sent.clear();
    return 0;
}
