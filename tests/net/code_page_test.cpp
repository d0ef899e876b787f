// Text on the wire in a double-byte ANSI code page (Big5, 950), text on
// screen in UTF-16. Run with LC_ALL=zh_TW.UTF-8.
#include <gtest/gtest.h>

#include "net/net_fixture.h"

namespace {

class Big5 : public NetTest {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 950u) << "run under LC_ALL=zh_TW.UTF-8";
        NetTest::SetUp();
    }
};

TEST_F(Big5, SendsAndRepliesInBig5AndShowsBig5AsCharacters) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"中文 é");
    ASSERT_TRUE(peer);
    EXPECT_EQ(ReadPeer(peer.Get(), 6).data, "\xA4\xA4\xA4\xE5 e");  // é has only a best fit

    SendAll(peer.Get(), "\xA4\xA4\xA4\xE5");
    EXPECT_TRUE(WaitReceived(L"中文"));

    // The reply is cut at 1,023 characters, not bytes.
    SetText(IDC_REPLY_TEXT, std::wstring(1500, L'中'));
    SendAll(peer.Get(), "!");
    std::string expected;
    for (int i = 0; i < 1023; ++i) {
        expected += "\xA4\xA4";
    }
    EXPECT_EQ(ReadPeer(peer.Get(), 4000, 300).data, expected);
}

TEST_F(Big5, ACharacterSplitBetweenTwoChunksIsNotJoinedAgain) {
    OwnedSocket server = BoundPeer(true);
    OwnedSocket peer = WaitingSendTo(server.Get(), L"");
    ASSERT_TRUE(peer);
    // One send: the lead byte ends the first 1,023-byte chunk, the trail
    // byte starts the next.
    SendAll(peer.Get(), std::string(1022, 'a') + "\xA4\xA4" + " z");
    ASSERT_TRUE(PumpUntil([&] { return Received().ends_with(L"z"); }, 5000));
    std::wstring text = Received();
    EXPECT_EQ(text.substr(0, 1022), std::wstring(1022, L'a'));
    EXPECT_EQ(text.find(L'中'), std::wstring::npos);
}

}  // namespace
