// SPDX-License-Identifier: MIT
#include "log/FileLog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Target { File, FullDevice, MissingFolder, SlowFifo, UnreadFifo, Deleted, Renamed };

constexpr int kLinesPerPass = 5000;
constexpr int kCannotKeepUp = -1;
constexpr int kDeleted = -2;

} // namespace

Q_DECLARE_METATYPE(Target)

class tst_FileLog : public QObject
{
    Q_OBJECT

private slots:
    void writes_data();
    void writes();
};

void tst_FileLog::writes_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<qsizetype>("backlogLimit");
    QTest::addColumn<int>("lines");
    // 0: no failure; else the errno whose text is the reason, kCannotKeepUp or kDeleted.
    QTest::addColumn<int>("failure");

    // 4.5 MB through a 2 MiB backlog: written chunks must leave it.
    QTest::newRow("file, appended to") << Target::File << qsizetype(2 << 20) << 200000 << 0;
    // The pipe takes part of a chunk at a time.
    QTest::newRow("FIFO read later") << Target::SlowFifo << FileLog::kBacklogLimit << 10000 << 0;
    // One line, so that only the writer can tell of the failure.
    QTest::newRow("/dev/full") << Target::FullDevice << FileLog::kBacklogLimit << 1 << ENOSPC;
    // Lines keep coming while the failure is told: still told once.
    QTest::newRow("/dev/full, a flood")
        << Target::FullDevice << FileLog::kBacklogLimit << 20000 << ENOSPC;
    QTest::newRow("folder removed")
        << Target::MissingFolder << FileLog::kBacklogLimit << 1 << ENOENT;
    // The pipe holds 64 KiB; the rest waits until the backlog overflows.
    QTest::newRow("FIFO nobody reads")
        << Target::UnreadFifo << 4 * FileLog::kChunkBytes << 20000 << kCannotKeepUp;
    // Removed once its lines are on disk: nothing more comes, and the writer notices by itself.
    QTest::newRow("file deleted while open")
        << Target::Deleted << FileLog::kBacklogLimit << 100 << kDeleted;
    // As log rotation does: written on under the new name, also past the writer's look.
    QTest::newRow("file renamed while open")
        << Target::Renamed << FileLog::kBacklogLimit << 100 << 0;
}

void tst_FileLog::writes()
{
    QFETCH(Target, target);
    QFETCH(qsizetype, backlogLimit);
    QFETCH(int, lines);
    QFETCH(int, failure);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QString path = dir.filePath(QStringLiteral("status.log"));
    QByteArray expected;
    int reader = -1;
    QByteArray drained;
    // What has reached the file, or the reader of the FIFO, so far.
    auto arrived = [&] {
        if (reader < 0) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        char buffer[65536];
        for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
            drained.append(buffer, n);
        return drained;
    };
    switch (target) {
    case Target::File: {
        expected = "from an earlier run\r\n";
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        QCOMPARE(earlier.write(expected), expected.size());
        break;
    }
    case Target::Deleted:
    case Target::Renamed:
        break;
    case Target::FullDevice:
        path = QStringLiteral("/dev/full");
        break;
    case Target::MissingFolder:
        QVERIFY(dir.remove());
        break;
    case Target::SlowFifo:
    case Target::UnreadFifo:
        QVERIFY2(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0, std::strerror(errno));
        reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY2(reader >= 0, std::strerror(errno));
        break;
    }

    {
        FileLog log(path, nullptr, backlogLimit);
        QSignalSpy failed(&log, &FileLog::failed);
        for (int i = 0; i < lines; ++i) {
            const QByteArray line = "Receive 16 " + QByteArray::number(i) + "\r\n";
            log.write(line);
            expected += line;
            if ((i + 1) % kLinesPerPass == 0)
                QCoreApplication::processEvents();
        }
        if (target == Target::Deleted) {
            QTRY_COMPARE(arrived().size(), expected.size());
            // Kept open, the removed file can still be read.
            reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY2(reader >= 0, std::strerror(errno));
            QVERIFY(QFile::remove(path));
        } else if (target == Target::Renamed) {
            const QString renamed = path + QStringLiteral(".1");
            QVERIFY(QFile::rename(path, renamed));
            path = renamed;
            // A file opened later loses its name: once that is seen, this one has been looked at.
            const QString later = dir.filePath(QStringLiteral("later.log"));
            FileLog laterLog(later);
            QSignalSpy laterFailed(&laterLog, &FileLog::failed);
            QVERIFY(QFile::remove(later));
            QVERIFY(laterFailed.wait());
        }
        if (failure == 0) {
            // Each pass of the loop hands its lines on; the last one is left to the destructor.
            QTRY_COMPARE(arrived().size(), expected.size());
            log.write("Send 16 1\r\n");
            expected += "Send 16 1\r\n";
            QCOMPARE(failed.size(), 0);
        } else {
            QTRY_COMPARE(failed.size(), 1);
            QCOMPARE(failed[0][0].toString(), path);
            const QString reason = failure == kCannotKeepUp
                ? QString::fromLatin1(FileLog::kCannotKeepUp)
                : failure == kDeleted ? QString::fromLatin1(FileLog::kDeleted)
                                      : QString::fromLocal8Bit(std::strerror(failure));
            QCOMPARE(failed[0][1].toString(), reason);
            QVERIFY(!log.isWriting());
            for (int i = 0; i < kLinesPerPass; ++i)
                log.write("Send 16 0\r\n");
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(failed.size(), 1);
        }
    }
    if (failure == 0 || target == Target::Deleted)
        QCOMPARE(arrived(), expected);
    if (reader >= 0)
        QCOMPARE(::close(reader), 0);
}

QTEST_GUILESS_MAIN(tst_FileLog)
#include "tst_filelog.moc"
