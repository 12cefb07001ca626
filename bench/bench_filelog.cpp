// SPDX-License-Identifier: MIT
// Times FileLog::write() for 20-byte status lines on the event loop's thread while its writer
// thread appends to a real file, beside appending the same lines to a plain QByteArray: the
// memcpy that a write should cost. The loop runs a pass of events between bursts of lines, as
// the window's receiver does.
#include "BenchSupport.h"
#include "log/FileLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kDistinctLines = 1000;

struct Figures
{
    double writeNs = 0; // per line, write() alone
    double passNs = 0; // per line, the passes of the event loop in between
    double closeMs = 0; // the destructor: the rest written, synced, closed
    bool failed = false;
    qint64 fileBytes = 0;
};

double median(std::vector<double> values)
{
    std::nth_element(
        values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
    return values[values.size() / 2];
}

template <typename Sink>
void feed(const std::vector<QByteArray> &text, int lines, int perPass, Sink &sink, Figures &f)
{
    qint64 writing = 0;
    qint64 passing = 0;
    for (int done = 0; done < lines;) {
        const int burst = std::min(perPass, lines - done);
        const qint64 start = Bench::nowNs();
        for (int i = 0; i < burst; ++i)
            sink.write(text[size_t((done + i) % kDistinctLines)]);
        const qint64 written = Bench::nowNs();
        QCoreApplication::processEvents();
        sink.pass();
        passing += Bench::nowNs() - written;
        writing += written - start;
        done += burst;
    }
    f.writeNs = double(writing) / lines;
    f.passNs = double(passing) / lines;
}

struct Reference
{
    QByteArray chunk;
    void write(const QByteArray &line) { chunk.append(line); }
    void pass() { chunk.resize(0); }
};

struct ToFile
{
    FileLog &log;
    void write(const QByteArray &line) { log.write(line); }
    void pass() { }
};

Figures fileRound(const QString &path, const std::vector<QByteArray> &text, int lines, int perPass)
{
    Figures f;
    QFile::remove(path);
    auto *log = new FileLog(path);
    QObject::connect(log, &FileLog::failed, log, [&f] { f.failed = true; });
    ToFile sink { *log };
    feed(text, lines, perPass, sink, f);
    const qint64 start = Bench::nowNs();
    delete log;
    f.closeMs = double(Bench::nowNs() - start) / 1e6;
    f.fileBytes = QFileInfo(path).size();
    QFile::remove(path);
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int lines = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5000000);
    const int perPass = std::max(1, argc > 2 ? std::atoi(argv[2]) : 1000);
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    const QString path = argc > 4 ? QString::fromLocal8Bit(argv[4])
                                  : QDir::temp().filePath(QStringLiteral("bench_filelog.log"));

    std::vector<QByteArray> text;
    for (int i = 0; i < kDistinctLines; ++i)
        text.push_back("Receive 16 " + QByteArray::number(1000000 + i) + "\r\n"); // 20 bytes

    std::vector<double> reference, referencePasses, writes, passes, closes;
    bool failed = false;
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        Figures plain;
        Reference sink;
        feed(text, lines, perPass, sink, plain);
        reference.push_back(plain.writeNs);
        referencePasses.push_back(plain.passNs);
        const Figures f = fileRound(path, text, lines, perPass);
        writes.push_back(f.writeNs);
        passes.push_back(f.passNs);
        closes.push_back(f.closeMs);
        failed = failed || f.failed;
        complete = complete && f.fileBytes == qint64(lines) * text[0].size();
    }
    std::printf("%d lines of %lld bytes, %d a pass, %d rounds, file %s\n", lines, text[0].size(),
        perPass, rounds, qPrintable(path));
    std::printf("%-34s %10.1f ns/line\n", "QByteArray::append (reference)", median(reference));
    std::printf("%-34s %10.1f ns/line\n", "  event loop passes beside it", median(referencePasses));
    std::printf("%-34s %10.1f ns/line\n", "FileLog::write", median(writes));
    std::printf("%-34s %10.1f ns/line\n", "  event loop passes beside it", median(passes));
    std::printf("%-34s %10.1f ms\n", "destructor (rest, fsync, close)", median(closes));
    std::printf("file complete: %s, gave up: %s\n", complete ? "yes" : "NO", failed ? "YES" : "no");
    return complete && !failed ? 0 : 1;
}
