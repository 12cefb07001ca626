// SPDX-License-Identifier: MIT
// The far side of the real-link test, each mode run in a network namespace of its own:
//
//   impair_link bridge IFACE_A IFACE_B DELAY_MS JITTER_MS LOSS_PERCENT DUPLICATE_PERCENT SEED
//     Moves every frame between two interfaces through AF_PACKET sockets. IPv4 UDP frames are
//     impaired by netem's rules, from a random source of the given seed: a duplicate adds a
//     copy, a loss takes one away, and each copy leaves after the delay ± a uniform jitter, so
//     copies overtake one another as netem's do. Every other frame (ARP) passes at once. On
//     SIGTERM or SIGINT it prints what it did in each direction and ends.
//   impair_link echo ADDRESS PORT
//     Sends every UDP datagram back to where it came from.
//
// Each prints "ready" once its sockets are open. Both ask for a real-time priority, so that on
// a busy machine the delays are the ones drawn; without one they run as they can.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kUsageStatus = 2;
constexpr size_t kFrameRoom = 65536;
constexpr int kRealTimePriority = 10;
constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNsPerSecond = 1'000'000'000;
// Ethernet, then IPv4 with its header length in 32-bit words, then UDP.
constexpr size_t kEthernetHeader = 14;
constexpr uint16_t kIPv4Type = 0x0800;
constexpr uint8_t kUdpProtocol = 17;
constexpr size_t kIPv4ProtocolOffset = 9;
constexpr size_t kUdpHeader = 8;
constexpr size_t kUdpChecksumOffset = 6;

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int fd() const { return m_fd; }

private:
    const int m_fd;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "impair_link: %s: %s\n", what, std::strerror(errno));
    std::exit(EXIT_FAILURE);
}

void preferRealTime()
{
    sched_param parameter {};
    parameter.sched_priority = kRealTimePriority;
    (void)::sched_setscheduler(0, SCHED_FIFO, &parameter);
    (void)::prctl(PR_SET_TIMERSLACK, 1UL);
}

void sayReady()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

int64_t now()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

// A packet socket that sees every frame arriving on one interface and sends on it.
int openInterface(const char *name)
{
    const unsigned index = ::if_nametoindex(name);
    if (index == 0)
        fail(name);
    // Protocol 0 receives nothing until bound, so no frame of another interface slips in.
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("AF_PACKET socket");
    sockaddr_ll address {};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = int(index);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        fail(name);
    // Our own sends would come back as outgoing frames; older kernels lack the option, and the
    // receive loop skips them anyway.
    const int on = 1;
    (void)::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    return fd;
}

// The UDP header's place in an IPv4 UDP frame; 0 for any other frame.
size_t udpOffset(const std::vector<uint8_t> &frame)
{
    if (frame.size() < kEthernetHeader + 20 + kUdpHeader)
        return 0;
    const uint16_t type = uint16_t(frame[12] << 8 | frame[13]);
    const uint8_t versionAndLength = frame[kEthernetHeader];
    if (type != kIPv4Type || versionAndLength >> 4 != 4
        || frame[kEthernetHeader + kIPv4ProtocolOffset] != kUdpProtocol)
        return 0;
    const size_t udp = kEthernetHeader + size_t(versionAndLength & 0x0F) * 4;
    return frame.size() >= udp + kUdpHeader ? udp : 0;
}

struct Rules
{
    int64_t delayNs = 0;
    int64_t jitterNs = 0;
    double loss = 0;
    double duplicate = 0;
};

struct Tally
{
    long long udp = 0;
    long long lost = 0;
    long long duplicated = 0;
};

class Bridge
{
public:
    Bridge(const char *a, const char *b, const Rules &rules, unsigned seed)
        : m_rules(rules)
        , m_random { std::mt19937_64(seed), std::mt19937_64(seed + 1) }
        , m_sides { Descriptor(openInterface(a)), Descriptor(openInterface(b)) }
    { }

    void run(int stopFd)
    {
        std::vector<uint8_t> room(kFrameRoom);
        for (;;) {
            pollfd fds[3] = { { m_sides[0].fd(), POLLIN, 0 }, { m_sides[1].fd(), POLLIN, 0 },
                { stopFd, POLLIN, 0 } };
            timespec wait {};
            timespec *timeout = nullptr;
            if (!m_queue.empty()) {
                const int64_t ns = std::max<int64_t>(0, m_queue.top().dueNs - now());
                wait = { time_t(ns / kNsPerSecond), long(ns % kNsPerSecond) };
                timeout = &wait;
            }
            if (::ppoll(fds, 3, timeout, nullptr) < 0 && errno != EINTR)
                fail("ppoll");
            if (fds[2].revents != 0)
                return;
            for (int side = 0; side < 2; ++side) {
                if (fds[side].revents != 0)
                    receive(side, room);
            }
            release();
        }
    }

    void report() const
    {
        static const char *const kDirections[2] = { "a>b", "b>a" };
        for (int side = 0; side < 2; ++side) {
            const Tally &t = m_tally[side];
            std::printf("%s udp %lld lost %lld duplicated %lld\n", kDirections[side], t.udp, t.lost,
                t.duplicated);
        }
        std::fflush(stdout);
    }

private:
    struct Held
    {
        int64_t dueNs = 0;
        uint64_t order = 0; // copies due at once leave in the order they came
        int to = 0;
        std::vector<uint8_t> frame;
    };
    struct Later
    {
        bool operator()(const Held &x, const Held &y) const
        {
            return x.dueNs != y.dueNs ? x.dueNs > y.dueNs : x.order > y.order;
        }
    };

    double unit(int from) { return std::uniform_real_distribution<double>(0, 1)(m_random[from]); }

    void receive(int from, std::vector<uint8_t> &room)
    {
        for (;;) {
            sockaddr_ll source {};
            socklen_t length = sizeof source;
            const ssize_t size = ::recvfrom(m_sides[from].fd(), room.data(), room.size(), 0,
                reinterpret_cast<sockaddr *>(&source), &length);
            if (size < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return;
                fail("recvfrom");
            }
            if (source.sll_pkttype == PACKET_OUTGOING)
                continue;
            std::vector<uint8_t> frame(room.begin(), room.begin() + size);
            impair(from, std::move(frame));
        }
    }

    void impair(int from, std::vector<uint8_t> frame)
    {
        const int to = 1 - from;
        const size_t udp = udpOffset(frame);
        if (udp == 0) {
            m_queue.push({ now(), m_order++, to, std::move(frame) });
            return;
        }
        // The frame may carry only the partial sum of a checksum the sender's interface was to
        // finish; IPv4 lets a UDP datagram go without one.
        frame[udp + kUdpChecksumOffset] = frame[udp + kUdpChecksumOffset + 1] = 0;
        Tally &tally = m_tally[from];
        ++tally.udp;
        int copies = 1;
        if (unit(from) < m_rules.duplicate)
            ++copies;
        if (unit(from) < m_rules.loss)
            --copies;
        tally.lost += copies == 0;
        tally.duplicated += copies == 2;
        const int64_t arrivedNs = now();
        for (int c = 0; c < copies; ++c) {
            const int64_t jitterNs = int64_t((unit(from) * 2 - 1) * double(m_rules.jitterNs));
            m_queue.push({ arrivedNs + m_rules.delayNs + jitterNs, m_order++, to, frame });
        }
    }

    void release()
    {
        const int64_t t = now();
        while (!m_queue.empty() && m_queue.top().dueNs <= t) {
            const Held &held = m_queue.top();
            if (::send(m_sides[held.to].fd(), held.frame.data(), held.frame.size(), 0) < 0
                && errno != EAGAIN && errno != ENOBUFS)
                fail("send");
            m_queue.pop();
        }
    }

    const Rules m_rules;
    // One source each way, so that what becomes of the nth datagram each way does not depend on
    // how the two directions' frames happen to interleave.
    std::mt19937_64 m_random[2];
    Descriptor m_sides[2];
    std::priority_queue<Held, std::vector<Held>, Later> m_queue;
    uint64_t m_order = 0;
    Tally m_tally[2];
};

int runBridge(char **argv)
{
    const Rules rules { std::atoll(argv[4]) * kNsPerMs, std::atoll(argv[5]) * kNsPerMs,
        std::atof(argv[6]) / 100, std::atof(argv[7]) / 100 };
    // The stop signals are read from a descriptor, between frames, not handled at any moment.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0)
        fail("sigprocmask");
    const Descriptor stopFd(::signalfd(-1, &stop, SFD_CLOEXEC));
    if (stopFd.fd() < 0)
        fail("signalfd");
    Bridge bridge(argv[2], argv[3], rules, unsigned(std::strtoul(argv[8], nullptr, 10)));
    preferRealTime();
    sayReady();
    bridge.run(stopFd.fd());
    bridge.report();
    return EXIT_SUCCESS;
}

int runEcho(char **argv)
{
    const Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argv[3])));
    if (socket.fd() < 0 || ::inet_pton(AF_INET, argv[2], &address.sin_addr) != 1
        || ::bind(socket.fd(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        fail(argv[2]);
    preferRealTime();
    sayReady();
    std::vector<char> room(kFrameRoom);
    for (;;) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t size = ::recvfrom(
            socket.fd(), room.data(), room.size(), 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (size < 0 && errno != EINTR)
            fail("recvfrom");
        if (size >= 0)
            (void)::sendto(socket.fd(), room.data(), size_t(size), 0,
                reinterpret_cast<const sockaddr *>(&from), length);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "bridge" && argc == 9)
        return runBridge(argv);
    if (mode == "echo" && argc == 4)
        return runEcho(argv);
    std::fprintf(stderr,
        "usage: impair_link bridge IFACE_A IFACE_B DELAY_MS JITTER_MS LOSS_PERCENT "
        "DUPLICATE_PERCENT SEED\n"
        "       impair_link echo ADDRESS PORT\n");
    return kUsageStatus;
}
