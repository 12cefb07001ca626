// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// Appends every line it is given to a file, byte for byte, without the event loop ever waiting
// for the disk: write() only appends to a chunk in memory; a full chunk, or one that has waited
// kHandOverDelay, goes to the one writer thread. Handing over less at every pass of the loop
// would cost a flood, read 32 datagrams a pass, a wake-up of the writer every 32 lines.
//
// When the file cannot be opened, no writer thread can be started, a write fails, more than the
// backlog limit waits for the disk, or the file loses its last name (its folder removed, say),
// the file is given up: the reason goes to stderr at once, failed() is emitted once on the event
// loop (queued, so also an open failure reaches a slot connected after construction), and later
// writes are ignored. Destruction writes what is left, syncs and closes the file.
//
// A file of another format than lines gives an encoder: the writer thread then writes what it
// makes of each chunk, after what it opens the file with, and the file is emptied when opened,
// since such a file cannot be added to.
class FileLog : public QObject
{
    Q_OBJECT

public:
    // Runs on the writer thread only. A chunk holds whole writes, never part of one.
    class Encoder
    {
    public:
        virtual ~Encoder() = default;
        // What the file starts with.
        virtual QByteArray start() = 0;
        // Replaces `out` with what the file gets for the chunk.
        virtual void encode(const QByteArray &chunk, QByteArray &out) = 0;
    };

    static constexpr qsizetype kChunkBytes = 64 * 1024;
    // A chunk that is not full yet goes to the writer this long after its first line.
    static constexpr std::chrono::milliseconds kHandOverDelay { 10 };
    static constexpr qsizetype kBacklogLimit = 64 * 1024 * 1024;
    // The reason given when more than the backlog limit waits for the disk.
    static constexpr char kCannotKeepUp[] = "cannot keep up: too much is waiting to be written";
    // The reason given when the file is no longer in any folder: what is written would be lost
    // with the last descriptor. A file renamed, as log rotation does, keeps being written.
    static constexpr char kDeleted[] = "the file was deleted";
    // How long written lines may sit in a file without a name before the writer notices.
    static constexpr std::chrono::seconds kNameCheckInterval { 1 };

    explicit FileLog(const QString &path, QObject *parent = nullptr,
        qsizetype backlogLimit = kBacklogLimit, std::unique_ptr<Encoder> encoder = {});
    ~FileLog() override;

    void write(QByteArrayView text);
    const QString &path() const { return m_path; }
    bool isWriting() const { return !m_givenUp; }

signals:
    // `reason` is the system's text for the error, or kCannotKeepUp.
    void failed(const QString &path, const QString &reason);

private:
    void handOver();
    void writerFailed();
    void giveUp(const QString &reason);
    void runWriter(std::chrono::steady_clock::time_point nextLook);
    int writeAll(const QByteArray &chunk);
    int nameError() const;

    const QString m_path;
    const qsizetype m_backlogLimit;
    // Only the writer thread uses it, once started.
    const std::unique_ptr<Encoder> m_encoder;
    int m_fd = -1;
    // Only the event loop's thread touches these.
    QByteArray m_chunk;
    QTimer m_handOverTimer;
    bool m_givenUp = false;

    // Handed between the two threads under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_chunks;
    qsizetype m_backlogBytes = 0; // handed over and not yet written
    bool m_closing = false;
    std::atomic<bool> m_abandon = false;
    int m_writerError = 0; // an errno value
    std::thread m_writer;
};
