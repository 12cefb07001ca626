// SPDX-License-Identifier: MIT
#include "engine/Tick.h"
#include "log/StatusLine.h"

#include <QTest>

class tst_StatusLine : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
};

void tst_StatusLine::format_data()
{
    QTest::addColumn<bool>("send");
    QTest::addColumn<qint64>("count");
    // The uptime as the system counts it; the line shows it as the window converts it.
    QTest::addColumn<quint32>("rawTick");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("send") << true << qint64(16) << 1234567u << QByteArray("Send 16 1234567\r\n");
    QTest::newRow("receive") << false << qint64(5) << 1234567u
                             << QByteArray("Receive 5 1234567\r\n");
    QTest::newRow("receive empty")
        << false << qint64(0) << 7654321u << QByteArray("Receive 0 7654321\r\n");
    QTest::newRow("tick zero") << true << qint64(16) << 0u << QByteArray("Send 16 0\r\n");
    QTest::newRow("largest positive tick")
        << true << qint64(16) << 2147483647u << QByteArray("Send 16 2147483647\r\n");
    QTest::newRow("2^31 prints negative")
        << false << qint64(65507) << 2147483648u << QByteArray("Receive 65507 -2147483648\r\n");
    QTest::newRow("2^32-1 prints -1")
        << true << qint64(16) << 4294967295u << QByteArray("Send 16 -1\r\n");
}

void tst_StatusLine::format()
{
    QFETCH(bool, send);
    QFETCH(qint64, count);
    QFETCH(quint32, rawTick);
    QFETCH(QByteArray, line);
    QCOMPARE(
        statusLine(send ? Direction::Send : Direction::Receive, count, tickValue(rawTick)), line);
}

QTEST_APPLESS_MAIN(tst_StatusLine)
#include "tst_statusline.moc"
