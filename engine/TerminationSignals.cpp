// SPDX-License-Identifier: MIT
#include "engine/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// %1 is the program, %2 why.
constexpr char kNotCaught[] = "%1: SIGTERM と SIGINT を受け取るとウィンドウを閉じずにその場で終了し"
                              "ます（シグナル用のパイプを作れません: %2）\n";

// The one piece of state a signal handler can reach; only one instance installs it.
int writeEnd = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up, so a lost byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void tellNotCaught(int error)
{
    const QByteArray line = QString::fromUtf8(kNotCaught)
                                .arg(QCoreApplication::applicationName(), qt_error_string(error))
                                .toUtf8();
    // Nothing is left to tell if stderr itself fails.
    [[maybe_unused]] const std::size_t written
        = std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (writeEnd != -1)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        tellNotCaught(errno);
        return;
    }
    NotifiedDescriptor readEnd(fds[0]);
    NotifiedDescriptor ownWriteEnd(fds[1]);

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    writeEnd = fds[1];
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (::sigaction(kSignals[i], &action, &m_previous[i]) != 0) {
            const int error = errno;
            restore(i);
            writeEnd = -1;
            tellNotCaught(error);
            return; // the pipe closes on the way out
        }
    }
    m_readEnd = std::move(readEnd);
    m_writeEnd = std::move(ownWriteEnd);
    connect(
        m_readEnd.notifyReads(this), &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_readEnd.isOpen())
        return;
    restore(kSignals.size());
    // Nothing writes to the pipe any more; it closes with its members.
    writeEnd = -1;
}

void TerminationSignals::restore(std::size_t count)
{
    // Handing back what sigaction gave out cannot fail.
    for (std::size_t i = 0; i < count; ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(m_readEnd.fd(), bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit received(bytes[i]);
    }
}
