// The chosen microphone and speaker: switched to when the next call starts,
// and the default used, with one line on standard error, for a device the
// catalog no longer lists.
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitIax;
using test::DialStringFor;
using test::FakePhone;
using test::PumpUntil;

class ListedDevices : public DeviceCatalog {
public:
    std::vector<SoundDevice> Microphones() override { return microphones; }
    std::vector<SoundDevice> Speakers() override { return speakers; }
    std::vector<SoundDevice> microphones{{"usb-mic", "USB Microphone"}};
    std::vector<SoundDevice> speakers{{"hdmi", "HDMI Output"}};
};

class DeviceChoice : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
    }

    // One call to the peer, ended by it.
    void CallAndHangUp()
    {
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        peer.SendIax(kHangup);
        ASSERT_TRUE(PumpUntil([&] { return !fp.phone->IsInCall(); }));
    }

    IaxTestPeer peer;
    FakePhone fp;
    std::shared_ptr<ListedDevices> catalog = std::make_shared<ListedDevices>();
};

TEST_F(DeviceChoice, NextCallSwitchesAndAGoneDeviceIsNamedOnceThenDefault)
{
    EXPECT_TRUE(fp.in->IsOpen());
    fp.phone->ChooseDevices(catalog, "usb-mic", "hdmi");
    EXPECT_EQ(fp.in->selectedDevice, "");  // not before the next call
    peer.StartCall();
    CallAndHangUp();
    EXPECT_EQ(fp.in->selectedDevice, "usb-mic");
    EXPECT_EQ(fp.out->selectedDevice, "hdmi");
    EXPECT_TRUE(fp.in->IsOpen());

    catalog->speakers.clear();
    catalog->speakers.push_back({"analog", "Speakers"});
    for (int call = 0; call < 2; ++call) {
        testing::internal::CaptureStderr();
        peer.StartCall();
        CallAndHangUp();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, call == 0 ? "velnar: the speaker \"hdmi\" is not there; using the default\n"
                                  : "");
        EXPECT_EQ(fp.out->selectedDevice, "");
        EXPECT_EQ(fp.in->selectedDevice, "usb-mic");
    }
}

}  // namespace
}  // namespace velnar
