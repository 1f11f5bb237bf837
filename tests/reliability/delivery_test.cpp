// SPDX-License-Identifier: Apache-2.0
// Delivered, not queued: a download is reported complete only when the device has every
// byte of it. The cases that once ended "completed" with most of the script still in the
// port's buffers, and the write stalls that were once taken for a lost device, end to end
// against the simulated device, judged by the bytes it recorded.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "reliability/harness.h"

namespace reburn3::reliability {
namespace {

// T5A T5A R91 E, then `group` T records and a last E: the script ends with a group far
// larger than any port buffer, and no R record after it to prove that it arrived.
QByteArray trailingGroupScript(int group) {
    QByteArray bytes("T5A:T5A:R91:E\r\n:");
    char record[8];
    for (int i = 0; i < group; ++i) {
        std::snprintf(record, sizeof record, "T%02X:", static_cast<unsigned>(i & 0xFF));
        bytes += record;
    }
    return bytes + "E\r\n:";
}

QJsonObject resultOf(const Outcome& o) {
    const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QJsonObject{}
                           : QJsonDocument::fromJson(lines.last().toUtf8()).object();
}

struct DeliveryCase {
    const char* name;
    QByteArray (*script)();
    bool reactive;
    bool line115200 = false;    // the device takes and answers bytes at 115200 baud, as a UART
    qint64 unacknowledged = 0;  // the script's bytes after its last R record
    QStringList hostOptions = {};
};

class Delivery : public ReliabilityTest, public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(Delivery, CompletedMeansTheDeviceHasEveryByte) {
    const QByteArray bytes = GetParam().script();
    const QString script = writeScript("delivery.pf3", bytes);
    const auto dev = GetParam().line115200 ? device(script, {"--baud", "115200"}) : device(script);
    ASSERT_TRUE(dev->ok());
    QStringList args{"flash", "--json", "--port", dev->port(), script};
    if (GetParam().reactive) {
        args.insert(1, "--reactive");
    }
    args.append(GetParam().hostOptions);
    const Outcome o = runReburn3(args);
    // A pseudo-terminal cannot tell when its bytes have left: a DONE comes only after the
    // unanswered bytes have had their time on the line, by when a device reading at the
    // line's pace has them all.
    const qint64 atVerdict = dev->received().size();
    // The device takes the last bytes off the line at its own pace, after the host has
    // gone: it ends by itself once it has played the whole script.
    EXPECT_TRUE(dev->waitForEnd()) << "the device did not get to the end of the script";
    const QByteArray received = dev->received();
    const QJsonObject result = resultOf(o);

    if (GetParam().hostOptions.contains("--require-ack")) {
        // Every byte reached the device, but nothing proves it: a failure, and said so.
        EXPECT_EQ(o.exitCode, 1) << o.err.toStdString();
        EXPECT_EQ(result.value("reason").toString(), "unacknowledged");
        EXPECT_TRUE(o.verdict.contains("never answered for the last " +
                                       QString::number(GetParam().unacknowledged) + " bytes"))
            << o.verdict.toStdString();
        return;
    }
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(atVerdict, downloadOf(bytes).size()) << "DONE before the device had every byte";
    EXPECT_EQ(result.value("bytesUnacknowledged").toInteger(), GetParam().unacknowledged);
    EXPECT_EQ(result.value("deliveryConfirmed").toBool(), GetParam().unacknowledged == 0);
    EXPECT_EQ(o.verdict.contains("cannot confirm"), GetParam().unacknowledged > 0);
    EXPECT_EQ(result.value("result").toString(), "completed");
    EXPECT_FALSE(result.value("deviceLost").toBool());
    // Byte for byte what the script sends, and the count reported is the count delivered.
    EXPECT_EQ(received.size(), downloadOf(bytes).size());
    EXPECT_TRUE(received == downloadOf(bytes)) << "the device did not get the script";
    EXPECT_EQ(result.value("bytesSent").toInteger(), received.size());
    EXPECT_FALSE(o.err.contains("went away")) << o.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    TrailingGroupsAndLongLines, Delivery,
    ::testing::Values(
        // The script's end is a group of T bytes far beyond the port's buffers.
        DeliveryCase{"Trailing12K", [] { return trailingGroupScript(12'000); }, false, false,
                     12'000},
        DeliveryCase{"Trailing100K", [] { return trailingGroupScript(100'000); }, false, false,
                     100'000},
        DeliveryCase{"Trailing100KReactive", [] { return trailingGroupScript(100'000); }, true,
                     false, 100'000},
        // On a paced line the device takes the trailing group over the group's line time.
        DeliveryCase{"Trailing20KAt115200", [] { return trailingGroupScript(20'000); }, false, true,
                     20'000},
        DeliveryCase{"Trailing20KAt115200RequireAck",
                     [] { return trailingGroupScript(20'000); },
                     false,
                     true,
                     20'000,
                     {"--require-ack"}},
        // 50,000 T bytes on one line, verified by its R: the system refuses writes for a
        // while (EAGAIN), which is a stall, not a lost device.
        DeliveryCase{"LongLines", [] { return linesScript(3, 50'000, 7); }, false},
        DeliveryCase{"LongLinesReactive", [] { return linesScript(3, 50'000, 7); }, true},
        // On a 115200-baud line a healthy device answers a long line's R only after its T
        // bytes have crossed: the answer's time starts then, not when the R was read.
        DeliveryCase{"Line4KAt115200", [] { return linesScript(2, 4'000, 3); }, false, true},
        DeliveryCase{"Line8KAt115200Reactive", [] { return linesScript(2, 8'000, 3); }, true, true},
        DeliveryCase{"Line50KAt115200", [] { return linesScript(1, 50'000, 3); }, false, true},
        DeliveryCase{"Line50KAt115200Reactive", [] { return linesScript(1, 50'000, 3); }, true,
                     true}),
    [](const auto& deliveryCase) { return std::string(deliveryCase.param.name); });

// udev re-creates the /dev/serial/by-id and by-path links at every change event of the
// device: a link that vanishes and comes back under a run is no lost device. The run
// follows the device it opened, not the name it opened it by. REBURN3_LINK_RUNS sets the
// count (3 here, 20 for the record in docs/reliability.md).
TEST_F(ReliabilityTest, APortLinkRemovedMidRunIsNoLoss) {
    const QByteArray bytes = linesScript(40, 400, 11);
    const QString script = writeScript("link.pf3", bytes);
    const int runs = qEnvironmentVariableIntValue("REBURN3_LINK_RUNS") > 0
                         ? qEnvironmentVariableIntValue("REBURN3_LINK_RUNS")
                         : 3;
    for (int run = 0; run < runs; ++run) {
        const QString link = path("by-id-" + QString::number(run));
        const auto dev = device(script, {"--baud", "115200", "--link", link});
        ASSERT_TRUE(dev->ok());
        QProcess flash;
        startReburn3(flash, {"flash", "--json", "--port", link, script});
        QString seen;
        ASSERT_TRUE(waitForOutput(flash, "\"type\":\"progress\"", seen)) << seen.toStdString();
        ASSERT_TRUE(QFile::remove(link));
        const Outcome o = collect(flash, seen);
        const QJsonObject result = resultOf(o);
        EXPECT_EQ(o.exitCode, 0) << run << o.err.toStdString();
        EXPECT_FALSE(result.value("deviceLost").toBool()) << run;
        EXPECT_TRUE(dev->received() == downloadOf(bytes)) << run;
    }
}

}  // namespace
}  // namespace reburn3::reliability
