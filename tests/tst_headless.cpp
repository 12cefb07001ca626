// SPDX-License-Identifier: MIT
#include "RecordingReporter.h"
#include "TestSupport.h"
#include "engine/LinkEngine.h"
#include "engine/RunFigures.h"
#include "net/UdpEndpoint.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <csignal>
#include <memory>

using TestSupport::kLocalPort;
using TestSupport::kPeerPort;

namespace {

constexpr int kWaitMs = 10000;

// The real binary: without a display unless told to draw off screen; its standard output and
// error to one file where one is given, as `>file 2>&1` does.
std::unique_ptr<QProcess> start(
    const QStringList &arguments, bool window = false, const QString &outputFile = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    if (window)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    if (!outputFile.isEmpty()) {
        process->setStandardOutputFile(outputFile);
        process->setProcessChannelMode(QProcess::MergedChannels);
    }
    process->start(QStringLiteral(QUILLON_BINARY), arguments);
    return process;
}

QString pair(quint16 bind, quint16 peer)
{
    return QStringLiteral("--bind=127.0.0.1:%1 --peer=127.0.0.1:%2").arg(bind).arg(peer);
}

// The figures that add up over intervals, by name: the sends, and each source's counts.
using Sums = QHash<QString, qint64>;

void add(Sums &sums, const QJsonObject &record)
{
    for (const char *name : { "sent", "echoed", "dropped", "echo_dropped" })
        sums[QLatin1String(name)] += record.value(QLatin1String(name)).toInteger();
    for (const QJsonValue &value : record.value(QLatin1String("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        const QString source = stream.value(QLatin1String("source")).toString();
        for (const char *name :
            { "received", "bytes", "in_order", "lost", "out_of_order", "duplicates" })
            sums[source + QLatin1Char(' ') + QLatin1String(name)]
                += stream.value(QLatin1String(name)).toInteger();
        sums[source + QLatin1String(" rtt samples")]
            += stream[QLatin1String("rtt_ms")][QLatin1String("samples")].toInteger();
    }
}

// Every line one JSON object: one start record first, one end record last, intervals between,
// whose figures add up to the end's. Empty when all holds, else what does not.
QString checkRecords(const QByteArray &text, QList<QJsonObject> &records)
{
    QList<QByteArray> lines = text.split('\n');
    if (!text.endsWith('\n'))
        return QStringLiteral("no newline at the end: ") + QString::fromUtf8(text.right(200));
    lines.removeLast();
    Sums intervals;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i], &error);
        if (!document.isObject())
            return QStringLiteral("line %1 is no JSON object (%2): %3")
                .arg(i + 1)
                .arg(error.errorString(), QString::fromUtf8(lines[i]));
        const QJsonObject record = document.object();
        const QString event = record.value(QLatin1String("event")).toString();
        const QString expected = i == 0 ? QStringLiteral("start")
            : i == lines.size() - 1     ? QStringLiteral("end")
                                        : QStringLiteral("interval");
        if (event != expected)
            return QStringLiteral("line %1 is %2, not %3").arg(i + 1).arg(event, expected);
        if (event == QLatin1String("interval"))
            add(intervals, record);
        records.append(record);
    }
    if (records.size() < 2)
        return QStringLiteral("no end record in %1 lines").arg(lines.size());
    Sums total;
    add(total, records.last());
    // A figure that stayed 0 may be missing from either side.
    intervals.removeIf([](const Sums::iterator &it) { return it.value() == 0; });
    total.removeIf([](const Sums::iterator &it) { return it.value() == 0; });
    if (intervals != total)
        return QStringLiteral("the intervals add up to something else than the end: %1")
            .arg(QString::fromUtf8(lines.last()));
    return {};
}

// The one stream of the end record from this source, or nothing.
QJsonObject streamFrom(const QJsonObject &end, quint16 port)
{
    const QString source = QStringLiteral("127.0.0.1:%1").arg(port);
    for (const QJsonValue &value : end.value(QLatin1String("streams")).toArray()) {
        if (value[QLatin1String("source")].toString() == source)
            return value.toObject();
    }
    return {};
}

// Waits until the process has written this, keeping what it read.
bool waitForOutput(QProcess &process, QByteArray &out, const QByteArray &text)
{
    return QTest::qWaitFor(
        [&] { return (out += process.readAllStandardOutput()).contains(text); }, kWaitMs);
}

// Ignores every line: the echo tests look at the figures.
class NoOutput final : public LinkOutput
{
    void append(Log, QByteArrayView) override { }
};

} // namespace

class tst_Headless : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void echo_data();
    void echo();
};

// A run of the real binary with its records on standard output, beside a headless echo of its
// stream where asked; ended by its duration, a signal, or a failure.
void tst_Headless::run_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("echoPeer");
    QTest::addColumn<bool>("window");
    QTest::addColumn<int>("signalNumber"); // 0: it ends by itself
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("toFile");

    const QString sender = QStringLiteral("--send --period 10 ") + pair(kLocalPort, kPeerPort);
    QTest::newRow("an echo pair for 2 s, intervals of 0.5 s")
        << "--headless --duration 2 --interval 0.5 " + sender << true << false << 0 << "duration"
        << 0 << false;
    QTest::newRow("SIGTERM mid-run")
        << "--headless " + sender << true << false << SIGTERM << "signal" << 0 << false;
    QTest::newRow("SIGINT before any datagram")
        << "--headless " + pair(kLocalPort, kPeerPort) << false << false << SIGINT << "signal" << 0
        << false;
    // The port is held by the test itself.
    QTest::newRow("a failure to bind") << "--headless " + pair(kLocalPort, kPeerPort) << false
                                       << false << 0 << "error" << 1 << false;
    // The error line and the records share one file, and neither may land over the other.
    QTest::newRow("a failure to bind, >file 2>&1") << "--headless " + pair(kLocalPort, kPeerPort)
                                                   << false << false << 0 << "error" << 1 << true;
    QTest::newRow("the window, closed by SIGTERM")
        << sender << true << true << SIGTERM << "closed" << 0 << false;
}

void tst_Headless::run()
{
    QFETCH(QString, options);
    QFETCH(bool, echoPeer);
    QFETCH(bool, window);
    QFETCH(int, signalNumber);
    QFETCH(QString, reason);
    QFETCH(int, exitCode);
    QFETCH(bool, toFile);

    QUdpSocket holder;
    if (reason == QLatin1String("error"))
        QVERIFY2(
            holder.bind(QHostAddress::LocalHost, kLocalPort), qPrintable(holder.errorString()));
    QTemporaryDir folder;
    const QString echoRecords = folder.filePath(QStringLiteral("echo.ndjson"));
    std::unique_ptr<QProcess> echo;
    if (echoPeer) {
        echo = start(QStringList { "--headless", "--echo", "--json", echoRecords }
            + pair(kPeerPort, kLocalPort).split(QLatin1Char(' ')));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(echoRecords).size() > 0, kWaitMs);
    }

    const QString outputFile = toFile ? folder.filePath(QStringLiteral("out")) : QString();
    const std::unique_ptr<QProcess> run = start(
        options.split(QLatin1Char(' ')) + QStringList { "--json", "-" }, window, outputFile);
    QByteArray out;
    if (signalNumber != 0) {
        // Mid-run with the echo: once an interval is recorded; else once the run has begun.
        QVERIFY2(waitForOutput(*run, out, echoPeer ? "\"interval\"" : "\"start\""),
            out + run->readAllStandardError());
        ::kill(pid_t(run->processId()), signalNumber);
    }
    QVERIFY(run->waitForFinished(kWaitMs));
    QString err;
    if (!toFile) {
        out += run->readAllStandardOutput();
        err = QString::fromUtf8(run->readAllStandardError());
    } else {
        QFile file(outputFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        out = file.readAll();
        const qsizetype line = out.indexOf("quillon: ");
        const qsizetype lineEnd = out.indexOf('\n', line) + 1;
        QVERIFY2(line >= 0 && lineEnd > 0, out.constData());
        err = QString::fromUtf8(out.mid(line, lineEnd - line));
        out.remove(line, lineEnd - line);
    }

    QCOMPARE(run->exitStatus(), QProcess::NormalExit);
    QCOMPARE(run->exitCode(), exitCode);
    QList<QJsonObject> records;
    const QString fault = checkRecords(out, records);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QJsonObject end = records.last();
    QCOMPARE(end.value(QLatin1String("reason")).toString(), reason);
    if (exitCode != 0) {
        QCOMPARE(end[QLatin1String("error")][QLatin1String("code")].toInt(), EADDRINUSE);
        QVERIFY2(err.startsWith(QString::fromUtf8("quillon: 実行時エラー '98': "))
                && err.count(QLatin1Char('\n')) == 1 && err.endsWith(QLatin1Char('\n')),
            qPrintable(err));
    } else {
        QVERIFY2(!end.contains(QLatin1String("error")), qPrintable(QString::fromUtf8(out)));
    }
    if (!echoPeer)
        return;

    // It sends from the start, so its first interval is recorded, and as long as it was set.
    QCOMPARE(records[1].value(QLatin1String("elapsed_s")).toDouble(),
        records[0].value(QLatin1String("interval_s")).toDouble());
    // Loopback loses nothing, and every echo it asked for came back in time to be timed.
    const QJsonObject back = streamFrom(end, kPeerPort);
    QVERIFY2(back.value(QLatin1String("received")).toInteger() > 0, qPrintable(out));
    QCOMPARE(back.value(QLatin1String("lost")).toInteger(), 0);
    QVERIFY(back[QLatin1String("rtt_ms")][QLatin1String("samples")].toInteger() > 0);
    QVERIFY(back[QLatin1String("rtt_ms")][QLatin1String("median")].toDouble() > 0);

    // The echo answered all it heard from the sender, and says so in its own records.
    ::kill(pid_t(echo->processId()), SIGTERM);
    QVERIFY(echo->waitForFinished(kWaitMs));
    QCOMPARE(echo->exitCode(), 0);
    const QByteArray report = echo->readAllStandardOutput();
    QVERIFY2(report.endsWith("end: signal\n"), report.constData());
    QFile file(echoRecords);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QJsonObject> echoRecordList;
    const QString echoFault = checkRecords(file.readAll(), echoRecordList);
    QVERIFY2(echoFault.isEmpty(), qPrintable(echoFault));
    const QJsonObject echoEnd = echoRecordList.last();
    const QJsonObject heard = streamFrom(echoEnd, kLocalPort);
    QCOMPARE(heard.value(QLatin1String("lost")).toInteger(), 0);
    QCOMPARE(echoEnd.value(QLatin1String("echoed")).toInteger(),
        heard.value(QLatin1String("received")).toInteger());
}

// The engine's echo, on real sockets: only the peer's host is answered, never the socket
// itself, and a full send buffer drops the answer without ending the run.
void tst_Headless::echo_data()
{
    QTest::addColumn<QString>("client"); // empty: the engine sends to itself
    QTest::addColumn<bool>("peerPortIsClients");
    QTest::addColumn<bool>("fullBuffer");
    QTest::addColumn<int>("echoed");
    QTest::addColumn<int>("echoDropped");

    QTest::newRow("the peer") << "127.0.0.1" << true << false << 1 << 0;
    QTest::newRow("another port of the peer's host") << "127.0.0.1" << false << false << 1 << 0;
    QTest::newRow("another host") << "127.0.0.2" << true << false << 0 << 0;
    QTest::newRow("a full send buffer") << "127.0.0.1" << true << true << 0 << 1;
    QTest::newRow("its own address and port") << QString() << false << false << 0 << 0;
}

void tst_Headless::echo()
{
    QFETCH(QString, client);
    QFETCH(bool, peerPortIsClients);
    QFETCH(bool, fullBuffer);
    QFETCH(int, echoed);
    QFETCH(int, echoDropped);

    QUdpSocket socket;
    if (!client.isEmpty())
        QVERIFY2(socket.bind(QHostAddress(client), 0), qPrintable(socket.errorString()));
    Settings settings;
    settings.bindAddress = QHostAddress::LocalHost;
    settings.peerHost = QStringLiteral("127.0.0.1");
    settings.peerPort = client.isEmpty() ? kLocalPort
        : peerPortIsClients              ? socket.localPort()
                                         : kPeerPort;
    settings.echo = true;
    RecordingReporter reporter;
    NoOutput output;
    LinkEngine engine([] { return quint32(0); }, reporter, output, settings);
    connect(&engine.endpoint(), &UdpEndpoint::dataArrival, &engine, &LinkEngine::receive);
    if (fullBuffer)
        engine.endpoint().setSendCall(
            [](int, QByteArrayView, const QByteArray &) { return EAGAIN; });
    QVERIFY(engine.open());

    const QByteArray payload("echo me\0too", 11);
    if (client.isEmpty()) {
        engine.setPeriod(10);
        engine.sendTick();
    } else {
        QCOMPARE(socket.writeDatagram(payload, QHostAddress::LocalHost, kLocalPort),
            qint64(payload.size()));
    }
    QTRY_COMPARE(engine.statistics().receivedDatagrams(), 1);
    // On loopback an answer is queued before sendto returns.
    QCOMPARE(!client.isEmpty() && socket.hasPendingDatagrams(), echoed == 1);
    if (echoed == 1) {
        const QNetworkDatagram answer = socket.receiveDatagram();
        QCOMPARE(answer.data(), payload);
        QCOMPARE(answer.senderPort(), int(kLocalPort));
    }
    engine.finishIntervals();
    RunReader reader(engine.measure());
    reader.take();
    const RunFigures run = reader.total(0);
    QCOMPARE(run.echoed, echoed);
    QCOMPARE(run.echoDropped, echoDropped);
    QVERIFY(reporter.reports.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Headless)
#include "tst_headless.moc"
