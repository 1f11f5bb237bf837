// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class PortLinkTest : public CoreTest {
protected:
    void SetUp() override { MainStartUp(form, ""); }
};

TEST_F(PortLinkTest, OpenConfiguresTheLineFlushesAndStartsTheTimer) {
    form.ComxBtn_Click(3);
    form.InitComPort();
    EXPECT_EQ(
        driver.callNames(),
        (std::vector<std::string>{"InitializePort", "ser_rs232_getport", "SetPortCharacteristics",
                                  "CdrvSetTimerResolution", "SetTimeout", "SetPaceTime",
                                  "FlushReceiveBuffer", "FlushTransmitBuffer"}));
    const auto& c = driver.calls();
    EXPECT_EQ(c[0].args, (std::vector<std::int32_t>{3, 2, 0, 0, 9, 0, 1024, 1024, 0}));
    EXPECT_EQ(c[2].args, (std::vector<std::int32_t>{3, 11, 0, 3, 0, 0}));
    EXPECT_EQ(c[3].args[1], 1);
    EXPECT_EQ(c[4].args[1], 20);
    EXPECT_EQ(c[5].args[1], 0);
    EXPECT_EQ(S.PortIndex, 2);
    EXPECT_EQ(S.PortOpen, kTrue);
    EXPECT_EQ(textOf(TextBoxId::Text2), "COM3: at max rate");
    EXPECT_EQ(status().back(), "COM port initialized and opened.");
    EXPECT_TRUE(form.window().timerEnabled());
    EXPECT_EQ(S.PortInfo.int32At(8), 11);
    EXPECT_EQ(S.PortInfo.int16At(14), 3);
    EXPECT_EQ(S.PortInfo.int16At(18), 0x1234);  // kept as the driver returned it
}

TEST_F(PortLinkTest, PortOutsideOneToEightCallsNoDriverFunction) {
    for (const std::int16_t port : {std::int16_t{0}, std::int16_t{9}}) {
        form.ComxBtn_Click(port);
        form.InitComPort();
        EXPECT_EQ(debug().back(), "COM Port selection is invalid.");
    }
    EXPECT_TRUE(driver.calls().empty());
}

TEST_F(PortLinkTest, OpenWhileOpenChangesNothing) {
    form.InitComPort();
    const auto calls = driver.calls().size();
    form.window().setText(TextBoxId::Text2, "kept");
    form.InitComPort();
    EXPECT_EQ(debug().back(), "** ERROR ** COM Port already open.");
    EXPECT_EQ(driver.calls().size(), calls);
    EXPECT_EQ(textOf(TextBoxId::Text2), "kept");
    EXPECT_TRUE(form.window().timerEnabled());
}

TEST_F(PortLinkTest, HardFailuresLeaveThePortClosedAndReleaseWhatWasOpened) {
    struct Case {
        std::string operation;
        std::string line;
        bool released;
    };
    for (const Case& c :
         {Case{"InitializePort", "Error initializing COM port: -7", false},
          Case{"ser_rs232_getport", "Error setting COM port parameters: -7", true},
          Case{"SetPortCharacteristics", "Error setting COM port characteristics: -7", true}}) {
        FakeSerialDriver d;
        FakeDesktop desk;
        FixedClock clk;
        Form1 f(d, desk, clk);
        MainStartUp(f, "");
        d.failWith(c.operation, -7);
        f.InitComPort();
        const auto& dbg = f.window().log(LogId::Debug);
        EXPECT_EQ(dbg.last(), c.line);
        EXPECT_EQ(f.state().PortOpen, kFalse);
        EXPECT_FALSE(f.window().timerEnabled());
        EXPECT_EQ(f.window().text(TextBoxId::Text2), "");
        EXPECT_TRUE(f.window().log(LogId::Status).empty());
        EXPECT_EQ(d.count("UnInitializePort"), c.released ? 1 : 0) << c.operation;
        // The next attempt can open the port.
        d.failWith(c.operation, 0);
        f.InitComPort();
        EXPECT_EQ(f.state().PortOpen, kTrue) << c.operation;
    }
}

TEST_F(PortLinkTest, FailedOpenAddsTheDriversReason) {
    driver.failWith("InitializePort", 2);
    driver.openErrorReason = "The device /dev/ttyS5 does not exist.";
    form.InitComPort();
    EXPECT_EQ(debug()[debug().size() - 2], "Error initializing COM port: 2");
    EXPECT_EQ(debug().back(), "The device /dev/ttyS5 does not exist.");
}

TEST_F(PortLinkTest, SoftFailuresArePostedAndThePortStillOpens) {
    driver.failWith("CdrvSetTimerResolution", 4);
    driver.failWith("SetTimeout", 5);
    driver.failWith("SetPaceTime", 6);
    form.InitComPort();
    EXPECT_EQ(debug(),
              (std::deque<std::string>{"Error setting timer resolution: 4",
                                       "Error setting time out: 5", "Error setting pace time: 6"}));
    EXPECT_EQ(status().back(), "COM port initialized and opened.");
    EXPECT_EQ(S.PortOpen, kTrue);
    EXPECT_TRUE(form.window().timerEnabled());
}

TEST_F(PortLinkTest, FailedReceiveFlushSkipsTheTransmitFlush) {
    driver.failWith("FlushReceiveBuffer", 8);
    form.InitComPort();
    EXPECT_EQ(debug().back(), "Error flushing receive buffer = 8");
    EXPECT_EQ(driver.count("FlushTransmitBuffer"), 0);
    driver.failWith("FlushReceiveBuffer", 0);
    driver.failWith("FlushTransmitBuffer", 9);
    form.link().FlushPort();
    EXPECT_EQ(debug().back(), "Error flushing transmit buffer = 9");
}

TEST_F(PortLinkTest, ReadPortByte) {
    S.LastError = 77;
    form.link().ReadPortByte();  // closed: no driver call
    EXPECT_EQ(S.RxByte, -1);
    EXPECT_EQ(S.LastError, 77);
    EXPECT_TRUE(driver.calls().empty());

    form.InitComPort();
    form.link().ReadPortByte();  // open, nothing waiting
    EXPECT_EQ(S.RxByte, -1);
    EXPECT_EQ(S.LastError, 1);

    driver.receive({0xFF, 0x00});
    form.link().ReadPortByte();
    EXPECT_EQ(S.RxByte, 255);
    EXPECT_EQ(S.LastError, 0);
    form.link().ReadPortByte();
    EXPECT_EQ(S.RxByte, 0);
}

TEST_F(PortLinkTest, WriteErrorsArePostedAndClearTheBusyFlag) {
    form.InitComPort();
    driver.failWith("PutByte", 12);
    driver.failWith("ser_rs232_putpacket", -3);
    S.TxByte = 0xAB;
    form.link().SendByte();
    EXPECT_EQ(debug().back(), "Error in put byte: 12");
    EXPECT_EQ(S.PortBusy, kFalse);
    form.link().PutEmptyPacket();
    EXPECT_EQ(debug().back(), "Error in put packet: -3");
    EXPECT_EQ(S.PortBusy, kFalse);
}

TEST_F(PortLinkTest, Close) {
    form.link().ClosePort();  // closed: nothing at all
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_TRUE(status().empty());

    form.InitComPort();
    form.link().ClosePort();
    EXPECT_EQ(status().back(), "Closed COM port: 6");
    EXPECT_EQ(S.PortOpen, kFalse);

    form.InitComPort();
    driver.failWith("UnInitializePort", 21);
    form.link().ClosePort();
    EXPECT_EQ(debug().back(), "Error: 21 closing COM port: 6");
    EXPECT_EQ(S.PortOpen, kFalse);
}

}  // namespace
}  // namespace reburn3::testing
