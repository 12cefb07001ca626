// SPDX-License-Identifier: MIT
// The datagram ring and the pcap files written from it, read back with libpcap's own reader,
// and the real binary's --capture read by tshark.
#include "TestSupport.h"
#include "engine/DatagramRing.h"
#include "engine/PcapFile.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <pcap/pcap.h>

namespace {

constexpr qint64 kMebibyte = 1024 * 1024;
constexpr qint64 kWallNs = 1'700'000'000'123'456'789;

SocketAddress address(const char *text, quint16 port, quint32 scope = 0)
{
    SocketAddress result;
    in6_addr ipv6 {};
    in_addr ipv4 {};
    if (::inet_pton(AF_INET, text, &ipv4) == 1)
        result.setIPv4(ipv4);
    else if (::inet_pton(AF_INET6, text, &ipv6) == 1)
        result.setIPv6(ipv6, scope);
    result.port = port;
    return result;
}

// The n-th datagram of a seeded stream: its size, its bytes and its ends.
QByteArray payloadOf(qint64 n, int size)
{
    QRandomGenerator random(quint32(n) * 2654435761u);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// The one's complement sum of big-endian words: 0xffff over a header with a valid checksum.
quint16 onesSum(QByteArrayView bytes, quint32 total = 0)
{
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        total += quint32(quint8(bytes[i])) << 8 | quint8(bytes[i + 1]);
    if (bytes.size() % 2 == 1)
        total += quint32(quint8(bytes.back())) << 8;
    while (total >> 16)
        total = (total & 0xffff) + (total >> 16);
    return quint16(total);
}

quint16 read16(QByteArrayView bytes, qsizetype at)
{
    return quint16(quint8(bytes[at]) << 8 | quint8(bytes[at + 1]));
}

QByteArrayView addressBytes(const SocketAddress &a)
{
    const auto *bytes = reinterpret_cast<const char *>(a.bytes.data());
    return a.isIPv4() ? QByteArrayView(bytes + 12, 4) : QByteArrayView(bytes, 16);
}

} // namespace

class tst_Capture : public QObject
{
    Q_OBJECT

private slots:
    void ringKeepsTheNewest_data();
    void ringKeepsTheNewest();
    void pcapReadsBack_data();
    void pcapReadsBack();
    void binaryCaptureMatchesLogs();
};

void tst_Capture::ringKeepsTheNewest_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("largest"); // sizes are seeded, up to this
    QTest::addColumn<int>("locals"); // distinct local addresses, taken in turn

    QTest::newRow("fits") << 1000 << 16 << 1;
    QTest::newRow("16 bytes, many times the budget") << 60000 << 16 << 1;
    QTest::newRow("largest datagrams wrap the arena") << 100 << 65507 << 2;
    QTest::newRow("mixed sizes") << 5000 << 2000 << 3;
    QTest::newRow("more local addresses than the table") << 3000 << 64 << 300;
}

// Whatever was let go, every record held is the one appended under its number, and the newest
// is always held.
void tst_Capture::ringKeepsTheNewest()
{
    QFETCH(int, count);
    QFETCH(int, largest);
    QFETCH(int, locals);
    DatagramRing ring(DatagramRing::kSmallestBudget);
    const SocketAddress remote = address("fe80::1", 20319, 3);
    const auto localOf = [&](qint64 n) {
        return address(
            qPrintable(QStringLiteral("127.0.%1.%2").arg(n % locals / 256).arg(n % 256)), 20320);
    };
    const auto sizeOf = [&](qint64 n) {
        return n == 0 ? largest : int(QRandomGenerator(quint32(n)).bounded(largest + 1));
    };
    for (qint64 n = 0; n < count; ++n) {
        const QByteArray payload = payloadOf(n, sizeOf(n));
        DatagramRecord record;
        record.wallNs = kWallNs + n;
        record.direction = n % 2 ? Direction::Send : Direction::Receive;
        record.local = localOf(n);
        record.remote = remote;
        record.payload = payload;
        ring.append(record);
        QCOMPARE(ring.end(), n + 1);
        QVERIFY(ring.first() <= n);
    }
    QVERIFY(ring.memoryUsed() < DatagramRing::kSmallestBudget + 64 * 1024);
    for (qint64 n = ring.first(); n < ring.end(); ++n) {
        const DatagramRecord record = ring.at(n);
        QCOMPARE(record.number, n);
        QCOMPARE(record.wallNs, kWallNs + n);
        QCOMPARE(record.direction, n % 2 ? Direction::Send : Direction::Receive);
        QVERIFY(record.local == localOf(n));
        QVERIFY(record.remote == remote);
        QCOMPARE(record.payload, payloadOf(n, sizeOf(n)));
    }
    // A budget holds as much as its memory allows, not a fixed number.
    const qint64 fits = DatagramRing::kSmallestBudget / (largest + 64);
    QVERIFY2(
        ring.count() >= std::min<qint64>(count, fits), qPrintable(QString::number(ring.count())));
}

void tst_Capture::pcapReadsBack_data()
{
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("remote");
    QTest::addColumn<int>("size");

    for (const int size : { 0, 1, 5, 65507 }) {
        QTest::addRow("IPv4, %d bytes", size)
            << QByteArray("127.0.0.1") << QByteArray("10.1.2.3") << size;
        QTest::addRow("IPv6, %d bytes", size)
            << QByteArray("2001:db8::1") << QByteArray("2001:db8::ffff:2") << size;
    }
}

// A datagram sent and the same received, through the ring into a file, come back from libpcap's
// reader as the packets that carried them.
void tst_Capture::pcapReadsBack()
{
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, remote);
    QFETCH(int, size);
    const QByteArray payload = payloadOf(size, size);
    DatagramRing ring(kMebibyte);
    for (const Direction direction : { Direction::Send, Direction::Receive }) {
        DatagramRecord record;
        record.wallNs = kWallNs + int(direction);
        record.direction = direction;
        record.local = address(local, 20320);
        record.remote = address(remote, 20319);
        record.payload = payload;
        ring.append(record);
    }
    QTemporaryFile file;
    QVERIFY(file.open());
    QString error;
    QVERIFY2(PcapFile::save(
                 file, ring.count(), [&](qint64 i) { return ring.at(ring.first() + i); }, error),
        qPrintable(error));
    file.close();

    char pcapError[PCAP_ERRBUF_SIZE] = {};
    pcap_t *const reader = pcap_open_offline_with_tstamp_precision(
        qPrintable(file.fileName()), PCAP_TSTAMP_PRECISION_NANO, pcapError);
    QVERIFY2(reader != nullptr, pcapError);
    const auto closeReader = qScopeGuard([reader] { pcap_close(reader); });
    QCOMPARE(pcap_datalink(reader), DLT_RAW);
    const bool ipv4 = !local.contains(':');
    const int ipSize = ipv4 ? 20 : 40;
    for (qint64 n = ring.first(); n < ring.end(); ++n) {
        const DatagramRecord record = ring.at(n);
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        QCOMPARE(pcap_next_ex(reader, &header, &data), 1);
        QCOMPARE(qint64(header->ts.tv_sec) * 1'000'000'000 + header->ts.tv_usec, record.wallNs);
        QCOMPARE(int(header->caplen), ipSize + 8 + size);
        QCOMPARE(header->len, header->caplen);
        const QByteArrayView packet(reinterpret_cast<const char *>(data), header->caplen);
        const QByteArrayView ip = packet.first(ipSize);
        const QByteArrayView udp = packet.sliced(ipSize);
        const bool sent = record.direction == Direction::Send;
        const SocketAddress &from = sent ? record.local : record.remote;
        const SocketAddress &to = sent ? record.remote : record.local;
        QByteArray pseudo = addressBytes(from).toByteArray() + addressBytes(to).toByteArray();
        if (ipv4) {
            QCOMPARE(quint8(ip[0]), 0x45);
            QCOMPARE(read16(ip, 2), packet.size());
            QCOMPARE(quint8(ip[9]), 17);
            QCOMPARE(ip.sliced(12, 4), addressBytes(from));
            QCOMPARE(ip.sliced(16, 4), addressBytes(to));
            QCOMPARE(onesSum(ip), 0xffff);
        } else {
            QCOMPARE(quint8(ip[0]) >> 4, 6);
            QCOMPARE(read16(ip, 4), udp.size());
            QCOMPARE(quint8(ip[6]), 17);
            QCOMPARE(ip.sliced(8, 16), addressBytes(from));
            QCOMPARE(ip.sliced(24, 16), addressBytes(to));
        }
        QCOMPARE(read16(udp, 0), from.port);
        QCOMPARE(read16(udp, 2), to.port);
        QCOMPARE(read16(udp, 4), udp.size());
        QVERIFY(read16(udp, 6) != 0);
        QCOMPARE(onesSum(udp, onesSum(pseudo) + 17 + quint32(udp.size())), 0xffff);
        QCOMPARE(udp.sliced(8), QByteArrayView(payload));
    }
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    QCOMPARE(pcap_next_ex(reader, &header, &data), PCAP_ERROR_BREAK);
}

// The tool sends and a peer echoes each datagram and adds its own of other sizes, with a capture
// and both logs written; tshark then reads in the capture the datagrams the logs list, in their
// order, each way and size, with the bytes the dump shows and valid checksums.
void tst_Capture::binaryCaptureMatchesLogs()
{
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (Debian: tshark)");
    QVERIFY(TestSupport::portIsFree());
    QUdpSocket peer;
    QVERIFY2(
        peer.bind(QHostAddress::LocalHost, TestSupport::kPeerPort), qPrintable(peer.errorString()));
    constexpr int kSizes[] = { 0, 1, 5, 1000 };
    int echoed = 0;
    connect(&peer, &QUdpSocket::readyRead, this, [&] {
        while (peer.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = peer.receiveDatagram();
            const QHostAddress to = datagram.senderAddress();
            const auto port = quint16(datagram.senderPort());
            peer.writeDatagram(datagram.data(), to, port);
            const int size = kSizes[echoed++ % std::size(kSizes)];
            peer.writeDatagram(payloadOf(echoed, size), to, port);
        }
    });

    const QTemporaryDir folder;
    const QString capture = folder.filePath(QStringLiteral("capture.pcap"));
    const QString status = folder.filePath(QStringLiteral("status.log"));
    const QString dump = folder.filePath(QStringLiteral("dump.log"));
    QProcess tool;
    tool.start(QStringLiteral(QUILLON_BINARY),
        { QStringLiteral("--peer"), QStringLiteral("127.0.0.1:20319"), QStringLiteral("--period"),
            QStringLiteral("10"), QStringLiteral("--send"), QStringLiteral("--dump"),
            QStringLiteral("--capture"), capture, QStringLiteral("--log"), status,
            QStringLiteral("--dump-log"), dump });
    QVERIFY2(tool.waitForStarted(), qPrintable(tool.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(echoed >= 40, 20000);
    tool.terminate();
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitCode(), 0);

    // The logs: one status line and one dump block, ended by an empty line, per datagram.
    QFile statusFile(status);
    QFile dumpFile(dump);
    QVERIFY(statusFile.open(QIODevice::ReadOnly) && dumpFile.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = statusFile.readAll().split('\n');
    lines.removeLast();
    QList<QByteArray> blocks;
    QByteArray block;
    for (const QByteArray &line : dumpFile.readAll().split('\n')) {
        if (line.trimmed().isEmpty()) {
            blocks.append(std::exchange(block, QByteArray()));
            continue;
        }
        for (const QByteArray &cell : line.trimmed().split(' ').mid(2))
            block += cell.toLower();
    }
    blocks.removeLast();
    QCOMPARE(blocks.size(), lines.size());

    QProcess reader;
    reader.start(tshark,
        { QStringLiteral("-r"), capture, QStringLiteral("-o"),
            QStringLiteral("ip.check_checksum:TRUE"), QStringLiteral("-o"),
            QStringLiteral("udp.check_checksum:TRUE"), QStringLiteral("-T"),
            QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("separator=,"),
            QStringLiteral("-e"), QStringLiteral("udp.dstport"), QStringLiteral("-e"),
            QStringLiteral("udp.length"), QStringLiteral("-e"),
            QStringLiteral("ip.checksum.status"), QStringLiteral("-e"),
            QStringLiteral("udp.checksum.status"), QStringLiteral("-e"),
            QStringLiteral("data.data") });
    QVERIFY(reader.waitForFinished(60000));
    QList<QByteArray> packets = reader.readAllStandardOutput().split('\n');
    packets.removeLast();
    QCOMPARE(packets.size(), lines.size());
    for (qsizetype i = 0; i < packets.size(); ++i) {
        const QList<QByteArray> fields = packets[i].split(',');
        QCOMPARE(fields.size(), 5);
        const QList<QByteArray> words = lines[i].split(' ');
        const bool sent = words[0] == "Send";
        QCOMPARE(fields[0].toInt(), sent ? TestSupport::kPeerPort : TestSupport::kLocalPort);
        QCOMPARE(fields[1].toInt() - 8, words[1].toInt());
        QCOMPARE(fields[2], QByteArray("1")); // good
        QCOMPARE(fields[3], QByteArray("1"));
        // The dump leaves out the last bytes of an incomplete group of four.
        QCOMPARE(fields[4].left(fields[4].size() / 8 * 8), blocks[i]);
    }
}

QTEST_GUILESS_MAIN(tst_Capture)
#include "tst_capture.moc"
