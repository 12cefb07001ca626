// SPDX-License-Identifier: MIT
#pragma once

#include "net/NotifiedDescriptor.h"

#include <QObject>

#include <array>
#include <csignal>

// Turns SIGTERM and SIGINT (a logout, Ctrl+C in the starting terminal) into a signal delivered
// by the event loop, so that the window closes the ordinary way. The handler itself only writes
// one byte to a pipe: nothing else is safe inside a signal handler.
//
// Without a pipe (out of descriptors, say) the signals keep their default action, which ends
// the program at once; stderr says so in one line.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

signals:
    void received(int signalNumber);

private:
    static constexpr std::array kSignals { SIGTERM, SIGINT };

    void drain();
    void restore(std::size_t count);

    // The pipe, open while the signals are caught.
    NotifiedDescriptor m_readEnd;
    NotifiedDescriptor m_writeEnd;
    // The actions these replaced, put back on the way out.
    std::array<struct sigaction, kSignals.size()> m_previous {};
};
