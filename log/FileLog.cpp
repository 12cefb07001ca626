// SPDX-License-Identifier: MIT
#include "log/FileLog.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A pipe or terminal that takes nothing: how often the writer looks whether it should give up,
// and how long it waits at exit before it does.
constexpr int kBlockedPollMs = 100;
constexpr auto kExitPatience = 2s;
// The writer's error when a pipe took nothing for kExitPatience while the file was closing.
constexpr int kNothingTakenAtExit = -1;
// The writer's error when the file lost its last name.
constexpr int kNoName = -2;

QString systemText(int error)
{
    if (error == kNothingTakenAtExit)
        return QStringLiteral("nothing was taken for %1 s at exit").arg(kExitPatience.count());
    if (error == kNoName)
        return QString::fromLatin1(FileLog::kDeleted);
    return QString::fromLocal8Bit(std::strerror(error));
}

void tellStderr(const QString &path, const QString &reason)
{
    std::fprintf(
        stderr, "quillon: stopped writing %s: %s\n", qUtf8Printable(path), qUtf8Printable(reason));
    std::fflush(stderr);
}

} // namespace

FileLog::FileLog(
    const QString &path, QObject *parent, qsizetype backlogLimit, std::unique_ptr<Encoder> encoder)
    : QObject(parent)
    , m_path(path)
    , m_backlogLimit(backlogLimit)
    , m_encoder(std::move(encoder))
{
    // Non-blocking, so that a pipe nobody reads holds up neither this open nor, for ever, the
    // writer; it changes nothing for a regular file.
    m_fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | (m_encoder ? O_TRUNC : O_APPEND) | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (m_fd < 0) {
        giveUp(systemText(errno));
        return;
    }
    m_handOverTimer.setSingleShot(true);
    m_handOverTimer.setInterval(kHandOverDelay);
    connect(&m_handOverTimer, &QTimer::timeout, this, &FileLog::handOver);
    try {
        // The first look at the file's name is a second after the open, however late the
        // thread starts.
        m_writer = std::thread(
            &FileLog::runWriter, this, std::chrono::steady_clock::now() + kNameCheckInterval);
    } catch (const std::system_error &error) {
        // Without its writer the file is given up as one that cannot be opened; the thread's
        // error is the one to tell, and the descriptor goes either way.
        ::close(m_fd);
        m_fd = -1;
        giveUp(systemText(error.code().value()));
    }
}

FileLog::~FileLog()
{
    if (!m_givenUp)
        handOver();
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
    // Too late for failed(): nobody is left to show it.
    if (m_writerError != 0 && !m_givenUp)
        tellStderr(m_path, systemText(m_writerError));
}

void FileLog::write(QByteArrayView text)
{
    if (m_givenUp)
        return;
    m_chunk.append(text.data(), text.size());
    if (m_chunk.size() >= kChunkBytes)
        handOver();
    else if (!m_handOverTimer.isActive())
        m_handOverTimer.start();
}

void FileLog::handOver()
{
    if (m_chunk.isEmpty())
        return;
    const qsizetype size = m_chunk.size();
    int error = 0;
    bool handed = false;
    {
        const std::lock_guard lock(m_mutex);
        error = m_writerError;
        handed = error == 0 && m_backlogBytes + size <= m_backlogLimit;
        if (handed) {
            m_backlogBytes += size;
            m_chunks.push_back(std::move(m_chunk));
        }
    }
    if (handed) {
        m_wake.notify_one();
        // The next chunk will likely be as large: growing it step by step would copy it again.
        m_chunk = QByteArray();
        m_chunk.reserve(std::min(size, kChunkBytes));
        return;
    }
    // A failed write is the reason even if its report is still on the way.
    giveUp(error != 0 ? systemText(error) : QString::fromLatin1(kCannotKeepUp));
}

void FileLog::writerFailed()
{
    int error = 0;
    {
        const std::lock_guard lock(m_mutex);
        error = m_writerError;
    }
    giveUp(systemText(error));
}

void FileLog::giveUp(const QString &reason)
{
    if (m_givenUp)
        return;
    m_givenUp = true;
    m_chunk = QByteArray();
    {
        const std::lock_guard lock(m_mutex);
        m_abandon = true;
        m_chunks.clear();
    }
    m_wake.notify_one();
    tellStderr(m_path, reason);
    // Queued: this may run inside the constructor or inside write(), deep in the caller's code.
    QMetaObject::invokeMethod(
        this, [this, reason] { emit failed(m_path, reason); }, Qt::QueuedConnection);
}

void FileLog::runWriter(std::chrono::steady_clock::time_point nextLook)
{
    // A pipe whose reader is gone then fails the write with EPIPE instead of ending the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    const int maskError = pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    // Once a second, and before the file is closed, the writer looks whether the file still has
    // a name: lines written into one that lost it are lost with the descriptor.
    int error = maskError;
    QByteArray encoded;
    if (error == 0 && m_encoder)
        error = writeAll(m_encoder->start());
    while (error == 0) {
        QByteArray chunk;
        bool hasChunk = false;
        {
            std::unique_lock lock(m_mutex);
            const bool woken = m_wake.wait_until(
                lock, nextLook, [this] { return m_abandon || m_closing || !m_chunks.empty(); });
            if (woken && (m_abandon || m_chunks.empty()))
                break;
            if (woken) {
                chunk = std::move(m_chunks.front());
                m_chunks.pop_front();
                hasChunk = true;
            }
        }
        if (const auto now = std::chrono::steady_clock::now(); now >= nextLook) {
            nextLook = now + kNameCheckInterval;
            error = nameError();
        }
        if (!hasChunk)
            continue;
        if (error == 0 && m_encoder) {
            m_encoder->encode(chunk, encoded);
            error = writeAll(encoded);
        } else if (error == 0) {
            error = writeAll(chunk);
        }
        const std::lock_guard lock(m_mutex);
        m_backlogBytes -= chunk.size();
    }
    if (error == 0 && !m_abandon)
        error = nameError();
    // A pipe or a terminal cannot be synced, and need not be.
    if (error == 0 && !m_abandon && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    if (::close(m_fd) != 0 && error == 0 && !m_abandon)
        error = errno;
    if (error == 0 || m_abandon)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_writerError = error;
    }
    QMetaObject::invokeMethod(this, &FileLog::writerFailed, Qt::QueuedConnection);
}

int FileLog::nameError() const
{
    // Only a regular file: a FIFO without a name still reaches its reader.
    struct stat status = {};
    if (::fstat(m_fd, &status) != 0)
        return errno;
    return S_ISREG(status.st_mode) && status.st_nlink == 0 ? kNoName : 0;
}

int FileLog::writeAll(const QByteArray &chunk)
{
    const char *data = chunk.constData();
    qsizetype left = chunk.size();
    auto lastProgress = std::chrono::steady_clock::now();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
            lastProgress = std::chrono::steady_clock::now();
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN)
            return errno;
        // Full pipe: wait until it takes more, or until this file is given up.
        if (m_abandon)
            return 0;
        bool closing = false;
        {
            const std::lock_guard lock(m_mutex);
            closing = m_closing;
        }
        if (closing && std::chrono::steady_clock::now() - lastProgress > kExitPatience)
            return kNothingTakenAtExit;
        pollfd wait { m_fd, POLLOUT, 0 };
        if (::poll(&wait, 1, kBlockedPollMs) < 0 && errno != EINTR)
            return errno;
    }
    return 0;
}
