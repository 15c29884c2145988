// Calls placed from separate fields: any printable password reaches the
// server's challenge unchanged, and no field can add keys to a request.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackFieldsTest : public LoopbackTest {
protected:
    int Place(const char* user, const char* secret, int port, const char* number)
    {
        m_session = IaxNewSession();
        const IaxCallFields fields{user, secret, "127.0.0.1", port, number, nullptr};
        return IaxPlaceCallFields(m_session, &fields);
    }
    IaxSession* m_session = nullptr;
};

TEST_F(LoopbackFieldsTest, AnyPrintablePasswordAnswersTheMd5Challenge)
{
    const std::string passwords[] = {"p@ss@word", "pa:ss", "pa/ss", "100%", "a;b=c", "~!#$^&*()"};
    for (const std::string& password : passwords) {
        SCOPED_TRACE(password);
        m_peer.StartCall();
        ASSERT_EQ(Place("alice", password.c_str(), m_peer.Port(), "600"), 0) << IaxLastError;
        auto newFrame = m_peer.ExpectIax(kNew);
        ASSERT_TRUE(newFrame) << m_peer.LastError();
        EXPECT_EQ(newFrame->Text(), "exten=600;dnid=600;username=alice;formats=2;version=1;");
        m_peer.SendIax(kAuthReq, "methods=md5;challenge=4242;username=alice;");
        ExpectNoEvent();
        auto rep = m_peer.ExpectIax(kAuthRep);
        ASSERT_TRUE(rep) << m_peer.LastError();
        EXPECT_EQ(rep->Text(), "md5secret=" + Md5Hex("4242" + password) + ";");
        IaxDestroySession(m_session);
    }
}

TEST_F(LoopbackFieldsTest, RefusedFieldsSendNothing)
{
    const std::string longSecret(IaxMaxSecretChars + 1, 's');
    struct Case {
        const char* name;
        const char* user;
        const char* secret;
        int port;
        const char* number;
    } cases[] = {
        {"number adds a key", "alice", "pw", 0, "600;username=mallory;formats=0"},
        {"number with '='", "alice", "pw", 0, "a=b"},
        {"number with a line break", "alice", "pw", 0, "600\n"},
        {"user name adds a key", "alice;context=x", "pw", 0, "600"},
        {"port 0", "alice", "pw", -1, "600"},
        {"port 65536", "alice", "pw", 65536, "600"},
        {"port 70000", "alice", "pw", 70000, "600"},
        {"secret too long", "alice", longSecret.c_str(), 0, "600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int port = c.port == 0 ? m_peer.Port() : c.port == -1 ? 0 : c.port;
        EXPECT_EQ(Place(c.user, c.secret, port, c.number), -1);
        EXPECT_NE(IaxLastError[0], '\0');
        EXPECT_EQ(std::string(IaxLastError).find(c.secret), std::string::npos);
    }
    EXPECT_TRUE(m_peer.ExpectSilence(50)) << "sent: " << m_peer.LastError();
}

}  // namespace
}  // namespace loopback
