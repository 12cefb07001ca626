// SPDX-License-Identifier: MIT
#include "log/CanonicalDump.h"
#include "log/Common.h"
#include "log/LogText.h"

#include <QTest>

class tst_HexDump : public QObject
{
    Q_OBJECT

private slots:
    void examples_data();
    void examples();
    void sizes_data();
    void sizes();
    void intoStore_data();
    void intoStore();
    void canonical_data();
    void canonical();
};

void tst_HexDump::examples_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("dump");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one byte") << QByteArray("\x1A", 1) << QByteArray();
    QTest::newRow("three bytes") << QByteArray("abc") << QByteArray();
    QTest::newRow("counter payload") << (QByteArray(4, '\x1A') + QByteArray(12, '\0'))
                                     << QByteArray("0000 : 1A 1A 1A 1A\r\n0001 : 00 00 00 00\r\n"
                                                   "0002 : 00 00 00 00\r\n0003 : 00 00 00 00\r\n");
    QTest::newRow("small values padded")
        << QByteArray("\x0A\x00\x01\x0F", 4) << QByteArray("0000 : 0A 00 01 0F\r\n");
    QTest::newRow("mixed case digits upper")
        << QByteArray("\x1A\x00\xFF\x07", 4) << QByteArray("0000 : 1A 00 FF 07\r\n");
    QTest::newRow("five bytes, fifth hidden")
        << QByteArray("\x01\x02\x03\x04\x05", 5) << QByteArray("0000 : 01 02 03 04\r\n");
    QTest::newRow("six bytes") << QByteArray("\xAA\xBB\xCC\xDD\xEE\xFF", 6)
                               << QByteArray("0000 : AA BB CC DD\r\n");
}

void tst_HexDump::examples()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, dump);
    QCOMPARE(Common::HexDump(payload), dump);
}

void tst_HexDump::sizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QByteArray>("lastLine");

    // Byte i of the payload is i * 7, modulo 256. Sizes 0, 1, 3, 5 and 6 are among the examples.
    QTest::newRow("2") << 2 << 0 << QByteArray();
    QTest::newRow("20: fifth line is group 4") << 20 << 5 << QByteArray("0004 : 70 77 7E 85\r\n");
    QTest::newRow("40004: first five-digit label")
        << 40004 << 10001 << QByteArray("10000 : C0 C7 CE D5\r\n");
    QTest::newRow("32768: past the 16-bit index")
        << 32768 << 8192 << QByteArray("8191 : E4 EB F2 F9\r\n");
    QTest::newRow("65507: largest IPv4 payload")
        << 65507 << 16376 << QByteArray("16375 : 04 0B 12 19\r\n");
    QTest::newRow("65527: largest IPv6 payload")
        << 65527 << 16381 << QByteArray("16380 : 90 97 9E A5\r\n");
}

void tst_HexDump::sizes()
{
    QFETCH(int, size);
    QFETCH(int, lines);
    QFETCH(QByteArray, lastLine);

    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 7);
    const QByteArray dump = Common::HexDump(payload);
    QCOMPARE(dump.count("\r\n"), lines);
    QVERIFY(dump.endsWith(lastLine));

    // Read back, every line is the next group by number, and the groups are the payload's.
    QByteArray readBack;
    int group = 0;
    for (const QByteArray &line : dump.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.chopped(1).split(' ');
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[0].toInt(), group++);
        QCOMPARE(fields[1], QByteArray(":"));
        for (const QByteArray &cell : fields.mid(2)) {
            QCOMPARE(cell.size(), 2);
            readBack += QByteArray::fromHex(cell);
        }
    }
    QCOMPARE(readBack, payload.left(lines * 4));
}

void tst_HexDump::intoStore_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<QByteArray>("between");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("largestBlock");

    // The window's blank line between dumps; 4 KiB blocks take 170 dump lines, so a 1,200-byte
    // dump always crosses into the next block.
    const QByteArray blank("\r\n");
    const qint64 unlimited = LogText::kNoLimit;
    const qint64 kMiB = LogText::kLargestBlockSize;
    const qint64 page = 4096;
    for (const int size : { 0, 1, 3, 4, 5, 1200, 65507 })
        QTest::addRow("%d", size) << size << 3 << blank << unlimited << kMiB;
    QTest::newRow("1200, lines across small blocks") << 1200 << 40 << blank << unlimited << page;
    QTest::newRow("65507, past a budget") << 65507 << 4 << blank << 64 * page << page;
    QTest::newRow("1200, the first line finishes an open line")
        << 1200 << 40 << QByteArray("x\r") << unlimited << page;
}

void tst_HexDump::intoStore()
{
    QFETCH(int, size);
    QFETCH(int, repeats);
    QFETCH(QByteArray, between);
    QFETCH(qint64, budget);
    QFETCH(qint64, largestBlock);

    // Formatted straight into the store, the text and its index must be those of the dump
    // appended as bytes, split into lines by the store.
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 7);
    LogText searched(budget, largestBlock);
    LogText known(budget, largestBlock);
    for (int i = 0; i < repeats; ++i) {
        searched.append(Common::HexDump(payload));
        searched.append(between);
        Common::appendHexDump(known, payload);
        known.append(between);
    }
    QCOMPARE(known.mid(known.begin(), known.end()), searched.mid(searched.begin(), searched.end()));
    QCOMPARE(known.begin(), searched.begin());
    QCOMPARE(known.firstLine(), searched.firstLine());
    QCOMPARE(known.lineCount(), searched.lineCount());
    QCOMPARE(known.longestLine(), searched.longestLine());
    QCOMPARE(known.memoryUsed(), searched.memoryUsed());
    QCOMPARE(known.droppedBytes(), 0);
    for (qint64 line = known.firstLine(); line < known.firstLine() + known.lineCount(); ++line) {
        QCOMPARE(known.lineStart(line), searched.lineStart(line));
        QCOMPARE(known.chunkAt(known.lineStart(line)).size(),
            searched.chunkAt(searched.lineStart(line)).size());
    }
}

void tst_HexDump::canonical_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("dump");

    // As `hexdump -v -C` prints them; only an empty input differs, with its one offset line.
    const auto letters = [](int size) {
        QByteArray bytes;
        for (int i = 0; i < size; ++i)
            bytes += char('A' + i);
        return bytes;
    };
    QTest::newRow("0") << QByteArray() << QByteArray("00000000\n");
    QTest::newRow("1") << letters(1)
                       << QByteArray("00000000  41                                   "
                                     "             |A|\n00000001\n");
    QTest::newRow("15") << letters(15)
                        << QByteArray("00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f    "
                                      " |ABCDEFGHIJKLMNO|\n0000000f\n");
    QTest::newRow("16") << letters(16)
                        << QByteArray("00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 "
                                      " |ABCDEFGHIJKLMNOP|\n00000010\n");
    QTest::newRow("17") << letters(17)
                        << QByteArray("00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 "
                                      " |ABCDEFGHIJKLMNOP|\n00000010  51                         "
                                      "                       |Q|\n00000011\n");
    QTest::newRow("unprintable") << QByteArray("ab\x00\x7f\x80\xff ~", 8)
                                 << QByteArray("00000000  61 62 00 7f 80 ff 20 7e               "
                                               "            |ab.... ~|\n00000008\n");
}

void tst_HexDump::canonical()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, dump);
    QCOMPARE(canonicalHexDump(bytes), dump);
}

QTEST_APPLESS_MAIN(tst_HexDump)
#include "tst_hexdump.moc"
