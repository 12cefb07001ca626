// SPDX-License-Identifier: MIT
#include "LogText.h"

#include <QList>
#include <QTest>

class tst_LogText : public QObject
{
    Q_OBJECT

private slots:
    void storageMatchesReference_data();
    void storageMatchesReference();
};

void tst_LogText::storageMatchesReference_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<int>("repeats");

    QTest::newRow("status lines across many blocks")
        << QByteArray("Receive 16 1234567\r\n") << 200000;
    QTest::newRow("pieces that split lines") << QByteArray("ab\r\ncd") << 50000;
    QTest::newRow("a line longer than a block") << QByteArray(300000, 'x') << 9;
    QTest::newRow("empty lines") << QByteArray("\r\n") << 70000;
}

void tst_LogText::storageMatchesReference()
{
    QFETCH(QByteArray, piece);
    QFETCH(int, repeats);

    LogText text;
    QByteArray reference;
    for (int i = 0; i < repeats; ++i) {
        text.append(piece);
        reference += piece;
    }
    QCOMPARE(text.size(), reference.size());
    QCOMPARE(text.mid(0, text.size()), reference);
    const QList<QByteArray> lines = reference.split('\n');
    QCOMPARE(text.lineCount(), lines.size());

    qint64 start = 0;
    for (qint64 line = 0; line < lines.size(); ++line) {
        QByteArray expected = lines[line];
        const qint64 fullLength = expected.size() + (line + 1 < lines.size() ? 1 : 0);
        if (expected.endsWith('\r'))
            expected.chop(1);
        QCOMPARE(text.lineStart(line), start);
        QCOMPARE(text.lineOf(start), line);
        if (line % 997 == 0 || line + 1 == lines.size())
            QCOMPARE(text.line(line).toByteArray(), expected);
        start += fullLength;
    }
    QCOMPARE(text.mid(7, 7 + 30), reference.mid(7, 30));
    text.clear();
    QCOMPARE(text.size(), 0);
    QCOMPARE(text.lineCount(), 1);
    QCOMPARE(text.memoryUsed(), 0);
}

QTEST_APPLESS_MAIN(tst_LogText)
#include "tst_logtext.moc"
