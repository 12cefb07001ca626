// SPDX-License-Identifier: MIT
#include "log/LogText.h"
#include "log/TextSearch.h"

#include <QList>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

class tst_LogText : public QObject
{
    Q_OBJECT

private slots:
    void storageMatchesReference_data();
    void storageMatchesReference();
    void outOfMemoryLetsGoOrDrops_data();
    void outOfMemoryLetsGoOrDrops();
    void search_data();
    void search();
};

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * kKiB;

// Line i of the search texts: 20 bytes, with a number found nowhere else at byte 11.
QByteArray numberedLine(qint64 i)
{
    return "Receive 16 " + QByteArray::number(1000000 + i) + "\r\n";
}

qint64 numberAt(qint64 i)
{
    return 20 * i + 11;
}

// memchr-based, so that counting gigabytes of long lines takes no time.
qint64 lineBreaksIn(QByteArrayView bytes)
{
    qint64 count = 0;
    for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1))
        ++count;
    return count;
}

} // namespace

void tst_LogText::storageMatchesReference_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("largestBlock");

    const qint64 unlimited = LogText::kNoLimit;
    const QByteArray status("Receive 16 1234567\r\n");
    QTest::newRow("status lines across many blocks") << status << 200000 << unlimited << kMiB;
    QTest::newRow("pieces that split lines")
        << QByteArray("ab\r\ncd") << 50000 << unlimited << kMiB;
    QTest::newRow("a line longer than a block")
        << QByteArray(300000, 'x') << 9 << unlimited << kMiB;
    QTest::newRow("empty lines") << QByteArray("\r\n") << 70000 << unlimited << kMiB;
    QTest::newRow("status lines past a budget") << status << 200000 << 64 * kKiB << 4 * kKiB;
    QTest::newRow("split pieces past a budget")
        << QByteArray("ab\r\ncd") << 50000 << 64 * kKiB << 4 * kKiB;
    QTest::newRow("lines longer than a block past a budget") << QByteArray(70000, 'x') + '\n'
                                                             << 40 << kMiB << kMiB;
    QTest::newRow("one line longer than the budget")
        << QByteArray(300000, 'x') << 9 << kMiB << 4 * kKiB;
    // Positions and offsets past 2^31, which 32-bit arithmetic would wrap.
    QTest::newRow("more than 2 GiB through a budget") << QByteArray(kMiB - 100, 'y') + "\r\n"
                                                      << 2100 << 16 * kMiB << kMiB;
}

void tst_LogText::storageMatchesReference()
{
    QFETCH(QByteArray, piece);
    QFETCH(int, repeats);
    QFETCH(qint64, budget);
    QFETCH(qint64, largestBlock);

    // The reference keeps only what the text may still hold, from referenceStart on, so that a
    // long run does not hold gigabytes twice.
    LogText text(budget, largestBlock);
    constexpr qint64 kTrimAt = 64 * kMiB;
    QByteArray reference;
    reference.reserve(std::min(piece.size() * repeats, kTrimAt + budget + piece.size()));
    qint64 referenceStart = 0;
    qint64 referenceLine = 0;
    // In place, so that the reference's buffer is not allocated again.
    const auto trimReference = [&] {
        const qint64 gone = text.begin() - referenceStart;
        referenceLine += lineBreaksIn(QByteArrayView(reference).first(gone));
        std::memmove(
            reference.data(), reference.constData() + gone, size_t(reference.size() - gone));
        reference.truncate(reference.size() - gone);
        referenceStart = text.begin();
    };
    for (int i = 0; i < repeats; ++i) {
        text.append(piece);
        reference += piece;
        if (text.begin() - referenceStart > kTrimAt)
            trimReference();
        // Within the budget, unless one line alone is larger; and once text is let go, no
        // more of it than that takes.
        if (budget != LogText::kNoLimit) {
            QVERIFY(text.memoryUsed() <= budget || text.lineCount() == 1);
            QVERIFY(text.begin() == 0 || text.memoryUsed() > budget / 2);
        }
    }
    const qint64 gone = text.begin() - referenceStart;
    QVERIFY(gone >= 0);
    QVERIFY(gone == 0 || reference[gone - 1] == '\n');
    trimReference();

    QCOMPARE(text.end(), piece.size() * repeats);
    QCOMPARE(text.size(), reference.size());
    QCOMPARE(text.mid(text.begin(), text.end()), reference);
    QCOMPARE(text.firstLine(), referenceLine);
    const QList<QByteArray> lines = reference.split('\n');
    QCOMPARE(text.lineCount(), lines.size());
    QCOMPARE(text.lineOf(text.end()), referenceLine + lines.size() - 1);
    qint64 start = referenceStart;
    for (qint64 index = 0; index < lines.size(); ++index) {
        const qint64 line = referenceLine + index;
        QByteArray expected = lines[index];
        const qint64 fullLength = expected.size() + (index + 1 < lines.size() ? 1 : 0);
        if (expected.endsWith('\r'))
            expected.chop(1);
        QCOMPARE(text.lineStart(line), start);
        QCOMPARE(text.lineOf(start), line);
        QVERIFY(text.longestLine() >= expected.size());
        if (index % 997 == 0 || index + 1 == lines.size())
            QCOMPARE(text.line(line).toByteArray(), expected);
        start += fullLength;
    }
    QCOMPARE(text.mid(text.begin() + 7, text.begin() + 7 + 30), reference.mid(7, 30));
    QCOMPARE(text.mid(text.end() - 30, text.end()), reference.right(30));
    text.clear();
    QCOMPARE(text.begin(), 0);
    QCOMPARE(text.size(), 0);
    QCOMPARE(text.lineCount(), 1);
    QCOMPARE(text.memoryUsed(), 0);
}

void tst_LogText::outOfMemoryLetsGoOrDrops_data()
{
    QTest::addColumn<LogText::Allocation>("kind");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("linesDropped");
    QTest::addColumn<qint64>("firstLine");

    using A = LogText::Allocation;
    QTest::newRow("block, older blocks to let go") << A::Block << 1 << 3 << 0 << qint64(1);
    QTest::newRow("block, nothing to let go") << A::Block << 1 << 0 << 1 << qint64(0);
    QTest::newRow("block, failing past all there is") << A::Block << 5 << 3 << 2 << qint64(3);
    QTest::newRow("block list, older blocks to let go") << A::BlockList << 1 << 3 << 0 << qint64(1);
    QTest::newRow("block list, nothing to let go") << A::BlockList << 1 << 0 << 1 << qint64(0);
}

void tst_LogText::outOfMemoryLetsGoOrDrops()
{
    QFETCH(LogText::Allocation, kind);
    QFETCH(int, failures);
    QFETCH(int, linesBefore);
    QFETCH(int, linesDropped);
    QFETCH(qint64, firstLine);

    // Each line is larger than a block, so that every one asks for memory.
    constexpr int kLinesAfter = 20;
    const QByteArray line = QByteArray(5000, 'm') + '\n';
    LogText text(LogText::kNoLimit, 4 * kKiB);
    for (int i = 0; i < linesBefore; ++i)
        text.append(line);
    text.failNextAllocations(kind, failures);
    for (int i = 0; i < kLinesAfter; ++i)
        text.append(line);

    QCOMPARE(text.droppedBytes(), qint64(linesDropped) * line.size());
    QCOMPARE(text.firstLine(), firstLine);
    QCOMPARE(text.lineCount(), linesBefore + kLinesAfter - linesDropped - firstLine + 1);
    for (qint64 n = text.firstLine(); n < text.firstLine() + text.lineCount() - 1; ++n)
        QCOMPARE(text.line(n).size(), line.size() - 1);
    QCOMPARE(text.mid(text.end() - line.size(), text.end()), line);
}

void tst_LogText::search_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("largestBlock");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<TextSearch::Direction>("direction");
    QTest::addColumn<int>("appendedWhileRunning");
    QTest::addColumn<qint64>("start"); // -1: not found
    QTest::addColumn<bool>("wrapped");

    const qint64 unlimited = LogText::kNoLimit;
    const auto forward = TextSearch::Direction::Forward;
    const auto backward = TextSearch::Direction::Backward;
    const QByteArray at500 = numberedLine(500).mid(11, 7);
    QTest::newRow("forward") << 1000 << unlimited << kMiB << at500 << qint64(0) << forward << 0
                             << numberAt(500) << false;
    QTest::newRow("forward from the match's start")
        << 1000 << unlimited << kMiB << at500 << numberAt(500) << forward << 0 << numberAt(500)
        << false;
    QTest::newRow("forward wraps") << 1000 << unlimited << kMiB << at500 << numberAt(500) + 1
                                   << forward << 0 << numberAt(500) << true;
    QTest::newRow("backward") << 1000 << unlimited << kMiB << at500 << qint64(20000) << backward
                              << 0 << numberAt(500) << false;
    QTest::newRow("backward to the match's end")
        << 1000 << unlimited << kMiB << at500 << numberAt(500) + 7 << backward << 0 << numberAt(500)
        << false;
    QTest::newRow("backward wraps") << 1000 << unlimited << kMiB << at500 << numberAt(500) + 6
                                    << backward << 0 << numberAt(500) << true;
    const QByteArray at4000 = numberedLine(4000).mid(11, 7);
    QTest::newRow("forward into a later block")
        << 5000 << unlimited << 4 * kKiB << at4000 << qint64(0) << forward << 0 << numberAt(4000)
        << false;
    QTest::newRow("forward wraps across blocks")
        << 5000 << unlimited << 4 * kKiB << numberedLine(300).mid(11, 7) << numberAt(4000)
        << forward << 0 << numberAt(300) << true;
    QTest::newRow("backward wraps across blocks")
        << 5000 << unlimited << 4 * kKiB << at4000 << numberAt(300) << backward << 0
        << numberAt(4000) << true;
    QTest::newRow("no match") << 5000 << unlimited << 4 * kKiB << QByteArray("Send") << qint64(0)
                              << forward << 0 << qint64(-1) << false;
    // Both are in the text, but a match never spans lines.
    QTest::newRow("a needle with '\\n'") << 1000 << unlimited << kMiB << QByteArray("\nReceive")
                                         << qint64(0) << forward << 0 << qint64(-1) << false;
    QTest::newRow("a needle with '\\r'") << 1000 << unlimited << kMiB << at500 + '\r' << qint64(0)
                                         << forward << 0 << qint64(-1) << false;
    QTest::newRow("text appended while searching")
        << 1000 << unlimited << kMiB << numberedLine(1005).mid(11, 7) << qint64(0) << forward << 10
        << numberAt(1005) << false;
    // Line 4000 is held when the search starts and let go before it finds line 8500.
    QTest::newRow("text let go while searching")
        << 5000 << 64 * kKiB << 4 * kKiB << numberedLine(8500).mid(11, 7) << numberAt(4000)
        << forward << 4000 << numberAt(8500) << false;
}

void tst_LogText::search()
{
    QFETCH(int, lines);
    QFETCH(qint64, budget);
    QFETCH(qint64, largestBlock);
    QFETCH(QByteArray, needle);
    QFETCH(qint64, from);
    QFETCH(TextSearch::Direction, direction);
    QFETCH(int, appendedWhileRunning);
    QFETCH(qint64, start);
    QFETCH(bool, wrapped);

    LogText text(budget, largestBlock);
    for (int i = 0; i < lines; ++i)
        text.append(numberedLine(i));
    QVERIFY(from >= text.begin());
    TextSearch search(text);
    QSignalSpy found(&search, &TextSearch::found);
    QSignalSpy notFound(&search, &TextSearch::notFound);
    search.start(needle, from, direction);
    QVERIFY(search.isRunning());
    for (int i = 0; i < appendedWhileRunning; ++i)
        text.append(numberedLine(lines + i));
    if (budget != LogText::kNoLimit)
        QVERIFY(text.begin() > from);

    QTRY_VERIFY(!search.isRunning());
    QCOMPARE(found.size() + notFound.size(), 1);
    if (start < 0) {
        QCOMPARE(notFound.size(), 1);
        return;
    }
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0][0].toLongLong(), start);
    QCOMPARE(found[0][1].toLongLong(), start + needle.size());
    QCOMPARE(found[0][2].toBool(), wrapped);
}

QTEST_GUILESS_MAIN(tst_LogText)
#include "tst_logtext.moc"
