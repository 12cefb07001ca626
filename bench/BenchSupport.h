// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <functional>
#include <sys/types.h>
#include <vector>

// Helpers for the benchmarks: child processes that stand in for peers, and the figures printed.
namespace Bench {

// Nanoseconds on the monotonic clock.
qint64 nowNs();

// The middle value, or the mean of the two middle ones; the values are taken by copy.
double median(std::vector<double> values);

// Two runs of one round, in an order swapped every round, so that neither always goes first.
void inTurn(int round, const std::function<void()> &first, const std::function<void()> &second);

// Receives one datagram and the time the system queued it (wall clock, in ns), so that the
// receiver's own late wake-ups do not count. Where the system gives no stamp, nowNs().
ssize_t receiveStamped(int fd, char *buffer, size_t size, qint64 &stampNs);

// Bytes currently allocated on the heap of this process.
qint64 heapInUse();

// A size from /proc/self/status, such as "VmRSS" or "VmHWM", in bytes; -1 when it cannot be read.
qint64 processStatusBytes(const char *field);

// What a process has used so far, summed over the threads it has now (a thread that ended
// takes its share along, so take differences over spans in which none ends).
struct ProcessLoad
{
    // Time on a CPU: the first field of /proc/PID/task/*/schedstat.
    qint64 cpuNs = 0;
    // Times its threads went off a CPU, voluntarily (to wait: each is one wake-up later) or not.
    qint64 contextSwitches = 0;
};
// All zero when the process is gone.
ProcessLoad processLoad(pid_t pid);

// Runs the event loop for `milliseconds`, timed precisely: a default, coarse timer may end a
// long run up to 5 % early.
void runEventLoopFor(int milliseconds);

struct Child
{
    pid_t pid = -1;
    int resultFd = -1;
};

// A child that binds 127.0.0.1:port and timestamps every datagram until it has seen `count`
// or `timeoutMs` passed. collectArrivals() returns the times, in ns, the system queued them.
Child startRecorder(quint16 port, int count, int timeoutMs);
std::vector<qint64> collectArrivals(Child &child);
// Ends a recorder early: it stops at a one-byte "!" datagram.
void stopRecorder(quint16 port);

// A child that sends `count` datagrams of `size` bytes to 127.0.0.1:port as fast as it can.
Child startFlood(quint16 port, int count, int size);
// A child that sends `perSecond` datagrams a second to 127.0.0.1:port for `durationMs`, paced in
// slices of 1 ms; the n-th datagram has sizeOf(n) bytes (at most 65,507).
Child startPacedFlood(quint16 port, int perSecond, int durationMs, int (*sizeOf)(qint64 n));
// A child that sends datagrams of `size` bytes to 127.0.0.1:port as fast as it can for
// `durationMs`.
Child startTimedFlood(quint16 port, int size, int durationMs);
// Datagrams the flood child actually handed to the system.
qint64 waitFlood(Child &child);
// Ends a child at once, without its figures, and reaps it: for a flood wanted only until then.
void endChild(Child &child);

struct PeriodFigures
{
    double meanErrorPercent = 0;
    double p99DeviationMs = 0;
    double maxDeviationMs = 0;
    int periods = 0;
};
PeriodFigures periodFigures(const std::vector<qint64> &arrivalsNs, double periodMs);

// Sends to 127.0.0.1:port at absolute deadlines, the way a plain loop without an event loop
// would: the reference the tool's timer is compared with.
void referenceSender(quint16 port, double periodMs, int count);

} // namespace Bench
