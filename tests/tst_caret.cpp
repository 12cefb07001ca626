// SPDX-License-Identifier: MIT
#include "log/Caret.h"
#include "log/LogText.h"

#include <QTest>

using Move = Caret::Move;

Q_DECLARE_METATYPE(Caret::Move)

class tst_Caret : public QObject
{
    Q_OBJECT

private slots:
    void moves_data();
    void moves();
    void words_data();
    void words();
};

void tst_Caret::moves_data()
{
    QTest::addColumn<qint64>("anchor");
    QTest::addColumn<qint64>("caret");
    QTest::addColumn<QList<Move>>("moves");
    QTest::addColumn<bool>("select");
    QTest::addColumn<qint64>("expectedAnchor");
    QTest::addColumn<qint64>("expectedCaret");

    // Rows named by the keys that make the moves. Lines start at 0, 20, 40 and 53; the text is
    // in moves().
    const auto row = [](const char *name, qint64 anchor, qint64 caret, const QList<Move> &moves,
                         bool select, qint64 expectedAnchor, qint64 expectedCaret) {
        QTest::newRow(name) << anchor << caret << moves << select << expectedAnchor
                            << expectedCaret;
    };
    row("Right", 5, 5, { Move::Right }, false, 6, 6);
    row("Right at a line's end skips CR LF", 18, 18, { Move::Right }, false, 20, 20);
    row("Left at a line's start", 20, 20, { Move::Left }, false, 18, 18);
    row("Shift+Right over the line break", 18, 18, { Move::Right }, true, 18, 20);
    row("Shift+Left", 5, 5, { Move::Left, Move::Left }, true, 5, 3);
    row("Left collapses to the start", 3, 15, { Move::Left }, false, 3, 3);
    row("Right collapses to the end", 15, 3, { Move::Right }, false, 15, 15);
    row("Home", 5, 5, { Move::LineStart }, false, 0, 0);
    row("End", 25, 25, { Move::LineEnd }, false, 38, 38);
    row("Shift+End", 5, 5, { Move::LineEnd }, true, 5, 18);
    row("Shift+Home", 25, 25, { Move::LineStart }, true, 25, 20);
    row("Ctrl+Right over words to the next line", 0, 0,
        { Move::WordRight, Move::WordRight, Move::WordRight, Move::WordRight }, false, 20, 20);
    row("Ctrl+Right over punctuation", 20, 20, { Move::WordRight, Move::WordRight }, false, 27, 27);
    row("Ctrl+Right stops at a run of punctuation", 44, 44, { Move::WordRight, Move::WordRight },
        false, 47, 47);
    row("Ctrl+Left over a negative number, spaces and punctuation", 53, 53,
        { Move::WordLeft, Move::WordLeft, Move::WordLeft, Move::WordLeft }, false, 45, 45);
    row("Ctrl+Shift+Left", 11, 11, { Move::WordLeft }, true, 11, 8);
    row("Up keeps the column", 36, 36, { Move::Up }, false, 16, 16);
    row("Down keeps the column across a short line", 17, 17, { Move::Down, Move::Down, Move::Down },
        false, 57, 57);
    row("Down and back up", 17, 17, { Move::Down, Move::Down, Move::Up, Move::Up }, false, 17, 17);
    row("Up on the first line", 5, 5, { Move::Up }, false, 5, 5);
    row("Shift+Up on the first line", 5, 5, { Move::Up }, true, 5, 0);
    row("Shift+Down", 5, 5, { Move::Down }, true, 5, 25);
    row("Shift+Down on the last line", 55, 55, { Move::Down }, true, 55, 57);
    row("Shift+PageDown", 5, 5, { Move::PageDown }, true, 5, 57);
    row("Shift+PageUp", 57, 57, { Move::PageUp }, true, 57, 4);
    row("Ctrl+Shift+End", 5, 5, { Move::End }, true, 5, 57);
    row("Ctrl+Shift+Home", 25, 25, { Move::Start }, true, 25, 0);
}

void tst_Caret::moves()
{
    QFETCH(qint64, anchor);
    QFETCH(qint64, caret);
    QFETCH(QList<Move>, moves);
    QFETCH(bool, select);
    QFETCH(qint64, expectedAnchor);
    QFETCH(qint64, expectedCaret);
    // A page of three lines takes the first line to the last and back.
    constexpr qint64 kPageLines = 3;
    LogText text;
    text.append("Receive 16 1000001\r\n0000 : 1A 00 FF 07\r\n  x.y::z -5\r\nlast");
    Caret cursor(text);
    cursor.select(anchor, caret);
    for (const Move move : moves)
        cursor.move(move, select, kPageLines);
    QCOMPARE(cursor.position(), expectedCaret);
    QCOMPARE(cursor.anchor(), expectedAnchor);
}

void tst_Caret::words_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("position");
    // What a double-click there selects, empty for nothing.
    QTest::addColumn<QByteArray>("word");
    // The word unit assistive technology reads there.
    QTest::addColumn<QByteArray>("unit");

    QTest::newRow("in a word") << QByteArray("Receive 16 1") << qint64(3) << QByteArray("Receive")
                               << QByteArray("Receive");
    QTest::newRow("a negative tick") << QByteArray("Receive 16 -2147483648\r\n") << qint64(11)
                                     << QByteArray("-2147483648") << QByteArray("-2147483648");
    QTest::newRow("punctuation after a word")
        << QByteArray("x.y") << qint64(1) << QByteArray("x") << QByteArray(".");
    QTest::newRow("between spaces")
        << QByteArray("a  : b") << qint64(2) << QByteArray() << QByteArray("  ");
    QTest::newRow("at a line's end")
        << QByteArray("ab\r\ncd") << qint64(2) << QByteArray("ab") << QByteArray("\r\n");
}

// A double-click, word moves and assistive technology agree on where words are.
void tst_Caret::words()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, position);
    QFETCH(QByteArray, word);
    QFETCH(QByteArray, unit);
    LogText log;
    log.append(text);
    const std::optional<Caret::Span> selected = Caret::wordAt(log, position);
    QCOMPARE(selected ? log.mid(selected->first, selected->second) : QByteArray(), word);
    const Caret::Span read = Caret::runAt(log, position);
    QCOMPARE(log.mid(read.first, read.second), unit);
    if (selected) {
        // Ctrl+Right from a word's start stops at its end, or past the spaces after it.
        Caret cursor(log);
        cursor.setPosition(selected->first, false);
        cursor.move(Move::WordRight, false, 1);
        QVERIFY(cursor.position() >= selected->second);
        QCOMPARE(log.mid(selected->second, cursor.position()).trimmed(), QByteArray());
    }
}

QTEST_GUILESS_MAIN(tst_Caret)
#include "tst_caret.moc"
