// SPDX-License-Identifier: MIT
#include "RecordingReporter.h"
#include "engine/CommandLine.h"
#include "engine/LinkEngine.h"
#include "net/TestPattern.h"
#include "net/UdpEndpoint.h"

#include <QFile>
#include <QHash>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <chrono>
#include <sched.h>

using namespace std::chrono_literals;

namespace {

// The test's own network: a namespace with a veth pair. The near end carries every group, as
// the only interface with a route for IPv6 groups and none for IPv4 ones; the far end only
// gives it a carrier, and has no IPv6, so that no wire copy comes back as a second arrival.
constexpr char kLink[] = "mc0";
constexpr char kFarEnd[] = "mc1";
const QList<QStringList> kNetwork {
    { "link", "set", "lo", "up" },
    { "link", "add", kLink, "type", "veth", "peer", "name", kFarEnd },
    { "addr", "add", "10.9.0.1/24", "brd", "+", "dev", kLink },
    { "addr", "add", "10.9.0.2/24", "dev", kLink },
    { "-6", "addr", "add", "fd00:9::1/64", "dev", kLink, "nodad" },
    { "-6", "addr", "add", "fe80::9:2/64", "dev", kLink, "nodad" },
    { "link", "set", kLink, "up" },
    { "link", "set", kFarEnd, "up" },
};
// The second sender, on an address the system never picks by itself.
constexpr char kOtherIPv4[] = "10.9.0.2";
constexpr char kOtherIPv6[] = "fe80::9:2%mc0";
constexpr char kNoInterface[] = "quillon9";

constexpr quint16 kGroupPort = 20320;
constexpr quint16 kSenderPort = 20321;
constexpr quint16 kOtherPort = 20322;
constexpr int kDatagrams = 20;
// tshark takes a few seconds to start on a busy machine.
constexpr std::chrono::milliseconds kCaptureStart = 20s;

// Nothing to show: only the reports are looked at.
class NoOutput final : public LinkOutput
{
public:
    void append(Log, QByteArrayView) override { }
};

// Every arrival counted by its sender's port.
class Receiver
{
public:
    explicit Receiver(UdpEndpoint &endpoint)
    {
        QObject::connect(&endpoint, &UdpEndpoint::dataArrival, &endpoint, [this, &endpoint] {
            endpoint.read();
            ++counts[endpoint.arrival().source.port];
        });
    }
    QHash<quint16, int> counts;
};

} // namespace

class tst_Multicast : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void groupStream_data();
    void groupStream();
    void refusalNamesGroupAndInterface_data();
    void refusalNamesGroupAndInterface();
    void broadcastPeer();
};

void tst_Multicast::initTestCase()
{
    // The process's own namespace: nothing it does is seen outside, and the ports are free.
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP(qPrintable(QStringLiteral("cannot make a network namespace (needs root): %1")
                             .arg(qt_error_string(errno))));
    for (const QStringList &arguments : kNetwork) {
        QProcess ip;
        ip.start(QStringLiteral("ip"), arguments);
        if (!ip.waitForFinished() || ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("cannot set up the test's network: ip %1: %2%3")
                                 .arg(arguments.join(QLatin1Char(' ')), ip.errorString(),
                                     QString::fromLocal8Bit(ip.readAllStandardError()))));
    }
    QFile noIPv6(QStringLiteral("/proc/sys/net/ipv6/conf/%1/disable_ipv6").arg(kFarEnd));
    if (!noIPv6.open(QIODevice::WriteOnly) || noIPv6.write("1") != 1 || !noIPv6.flush())
        QSKIP(qPrintable(QStringLiteral("cannot set up the test's network: %1: %2")
                             .arg(noIPv6.fileName(), noIPv6.errorString())));
}

void tst_Multicast::groupStream_data()
{
    QTest::addColumn<QHostAddress>("group");
    // The address the sender on every address sends from, and the second sender's.
    QTest::addColumn<QHostAddress>("sender");
    QTest::addColumn<QHostAddress>("other");
    QTest::addColumn<bool>("sourceSpecific");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<int>("hopLimit");

    const QHostAddress v4Group(QStringLiteral("239.1.2.3"));
    const QHostAddress v4Sender(QStringLiteral("10.9.0.1"));
    const QHostAddress v6Group(QStringLiteral("ff15::1:2:3"));
    const QHostAddress v6Sender(QStringLiteral("fd00:9::1"));
    const QHostAddress v4Other { QLatin1String(kOtherIPv4) };
    const QHostAddress v6Other { QLatin1String(kOtherIPv6) };
    const QString link = QLatin1String(kLink);
    QTest::newRow("IPv4 any-source")
        << v4Group << v4Sender << v4Other << false << link << GroupOptions::kDefaultHopLimit;
    QTest::newRow("IPv4 source-specific") << v4Group << v4Sender << v4Other << true << link << 7;
    QTest::newRow("IPv6 any-source, default interface")
        << v6Group << v6Sender << v6Other << false << QString() << 64;
    QTest::newRow("IPv6 source-specific")
        << v6Group << v6Sender << v6Other << true << link << GroupOptions::kMaxHopLimit;
}

// One sender on every address and a second one on another address send to a group; two
// receivers on this host hear the first one's every datagram, and the second one's too
// unless they joined for the first one alone. What left carries the hop limit asked for. Once
// both receivers have left, the host hears the group no more.
void tst_Multicast::groupStream()
{
    QFETCH(QHostAddress, group);
    QFETCH(QHostAddress, sender);
    QFETCH(QHostAddress, other);
    QFETCH(bool, sourceSpecific);
    QFETCH(QString, interface);
    QFETCH(int, hopLimit);

    GroupOptions joined { interface, GroupOptions::kDefaultHopLimit, {} };
    if (sourceSpecific)
        joined.source = sender;
    UdpEndpoint first;
    UdpEndpoint second;
    Receiver firstCounts(first);
    Receiver secondCounts(second);
    for (UdpEndpoint *receiver : { &first, &second }) {
        receiver->setGroupOptions(joined);
        const SocketResult bound = receiver->bind(group, kGroupPort);
        QVERIFY2(bound, bound ? "" : qPrintable(bound.error().description));
    }
    // Bound to every address and joined to nothing, it hears the group while this host is a
    // member of it.
    QUdpSocket probe;
    const QHostAddress every(group.protocol() == QAbstractSocket::IPv4Protocol
            ? QHostAddress::AnyIPv4
            : QHostAddress::AnyIPv6);
    QVERIFY2(
        probe.bind(every, kGroupPort, QUdpSocket::ShareAddress), qPrintable(probe.errorString()));

    UdpEndpoint ours;
    ours.setGroupOptions({ interface, hopLimit, {} });
    ours.setRemoteHost(group.toString());
    ours.setRemotePort(kGroupPort);
    QVERIFY(ours.bind(kSenderPort));
    UdpEndpoint theirs;
    theirs.setGroupOptions({ QLatin1String(kLink), hopLimit, {} });
    theirs.setRemoteHost(group.toString());
    theirs.setRemotePort(kGroupPort);
    const SocketResult theirsBound = theirs.bind(other, kOtherPort);
    QVERIFY2(theirsBound, theirsBound ? "" : qPrintable(theirsBound.error().description));

    // tshark keeps its packets in a file of its own, which a killed one leaves behind.
    const QTemporaryDir captureFiles;
    QProcess capture;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), captureFiles.path());
    capture.setProcessEnvironment(environment);
    const bool capturing = !QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty();
    if (capturing) {
        capture.start(QStringLiteral("tshark"),
            { "-i", kLink, "-f", "udp and src host " + sender.toString(), "-c",
                QString::number(kDatagrams), "-T", "fields", "-e", "ip.ttl", "-e", "ipv6.hlim" });
        QByteArray said;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         said += capture.readAllStandardError();
                         return said.contains("Capture started")
                             || capture.state() == QProcess::NotRunning;
                     },
                     int(kCaptureStart.count())),
            said.constData());
        QVERIFY2(capture.state() == QProcess::Running, said.constData());
    } else {
        qInfo("tshark is not installed: the hop limit on the wire is not checked");
    }

    // The second sender first: once the first one's last datagram is in, any of the second's
    // that were let through are in too.
    for (qint16 counter = 0; counter < kDatagrams; ++counter)
        QCOMPARE(theirs.send(TestPattern::payload(counter)).outcome, SendResult::Outcome::Sent);
    for (qint16 counter = 0; counter < kDatagrams; ++counter)
        QCOMPARE(ours.send(TestPattern::payload(counter)).outcome, SendResult::Outcome::Sent);
    const int fromOther = sourceSpecific ? 0 : kDatagrams;
    for (const Receiver *receiver : { &firstCounts, &secondCounts }) {
        QTRY_COMPARE(receiver->counts.value(kSenderPort), kDatagrams);
        QTRY_COMPARE(receiver->counts.value(kOtherPort), fromOther);
        QCOMPARE(receiver->counts.size(), fromOther ? 2 : 1);
    }

    if (capturing) {
        QVERIFY(capture.waitForFinished());
        const QList<QByteArray> lines = capture.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), kDatagrams);
        for (const QByteArray &line : lines)
            QCOMPARE(line.trimmed().toInt(), hopLimit);
    }

    // The probe heard the group; the receivers leave, and it hears it no more. Its datagram is
    // looked for once one sent after it to the probe itself has come.
    int probeHeard = 0;
    QByteArray marker;
    const auto drain = [&] {
        while (probe.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = probe.receiveDatagram();
            if (datagram.senderPort() == kSenderPort)
                ++probeHeard;
            else if (datagram.senderPort() != kOtherPort)
                marker += datagram.data();
        }
    };
    QTRY_VERIFY((drain(), probeHeard == kDatagrams));
    first.close();
    second.close();
    QCOMPARE(ours.send(TestPattern::payload(0)).outcome, SendResult::Outcome::Sent);
    QUdpSocket markerSender;
    QCOMPARE(markerSender.writeDatagram("marker", sender, kGroupPort), 6);
    QTRY_VERIFY((drain(), marker == "marker"));
    QCOMPARE(probeHeard, kDatagrams);
}

void tst_Multicast::refusalNamesGroupAndInterface_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");

    QTest::newRow("join on no such interface")
        << QStringList { "--bind", "[ff15::1:2:3]:20320", "--source", "fd00:9::1", "--interface",
               kNoInterface }
        << ENODEV
        << "グループ [ff15::1:2:3]:20320（インターフェース quillon9、送信元 fd00:9::1）を使えま"
           "せん。";
    // No route for IPv4 groups here.
    QTest::newRow("join the system refuses")
        << QStringList { "--bind", "239.1.2.3:20320" } << ENODEV
        << "グループ 239.1.2.3:20320（既定のインターフェース）を使えません。";
    QTest::newRow("send on no such interface")
        << QStringList { "--peer", "239.1.2.3:20320", "--interface", kNoInterface } << ENODEV
        << "グループ 239.1.2.3:20320（インターフェース quillon9）を使えません。";
    QTest::newRow("group of the other family")
        << QStringList { "--bind", "10.9.0.1:20321", "--peer", "[ff15::1:2:3]:20320" }
        << EAFNOSUPPORT << "グループ [ff15::1:2:3]:20320（既定のインターフェース）を使えません。";
}

// A group that cannot be used gives one report: the system's number and text, then the group
// and the interface as given.
void tst_Multicast::refusalNamesGroupAndInterface()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, named);

    const CommandLine::Outcome command
        = CommandLine::parse(QStringList { "quillon", "--bind", "20321" } + arguments);
    QCOMPARE(command.action, CommandLine::Action::Run);
    RecordingReporter reporter;
    NoOutput output;
    LinkEngine engine(systemUptimeMilliseconds, reporter, output, command.settings);
    QVERIFY(!engine.open());
    QCOMPARE(reporter.reports.size(), 1);
    QCOMPARE(reporter.reports.first().first, code);
    QCOMPARE(reporter.reports.first().second, qt_error_string(code) + "\n\n" + named);
}

// A subnet's broadcast address is sent to, where the system refuses it to a socket that has
// not asked for broadcasts.
void tst_Multicast::broadcastPeer()
{
    UdpEndpoint receiver;
    Receiver counts(receiver);
    QVERIFY(receiver.bind(QHostAddress(QHostAddress::AnyIPv4), kGroupPort));
    UdpEndpoint sender;
    sender.setRemoteHost(QStringLiteral("10.9.0.255"));
    sender.setRemotePort(kGroupPort);
    QVERIFY(sender.bind(kSenderPort));
    for (qint16 counter = 0; counter < kDatagrams; ++counter)
        QCOMPARE(sender.send(TestPattern::payload(counter)).outcome, SendResult::Outcome::Sent);
    QTRY_COMPARE(counts.counts.value(kSenderPort), kDatagrams);
}

QTEST_GUILESS_MAIN(tst_Multicast)
#include "tst_multicast.moc"
