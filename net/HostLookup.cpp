// SPDX-License-Identifier: MIT
#include "net/HostLookup.h"

#include <QMetaObject>
#include <QUrl>

#include <cerrno>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace {

class SystemHostLookup;

// What a lookup's thread shares with the object that started it. A resolver that never
// answers keeps its thread forever, so the thread may outlive the object: it then finds no
// owner and drops the answer.
struct PendingLookup
{
    std::mutex mutex;
    SystemHostLookup *owner = nullptr; // guarded by mutex
};

QHostAddress hostAddress(const addrinfo &entry)
{
    if (entry.ai_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(entry.ai_addr);
        return QHostAddress(ntohl(in->sin_addr.s_addr));
    }
    if (entry.ai_family != AF_INET6)
        return {};
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(entry.ai_addr);
    QHostAddress address(in6->sin6_addr.s6_addr);
    if (in6->sin6_scope_id != 0)
        address.setScopeId(QString::number(in6->sin6_scope_id));
    return address;
}

LookupAnswer resolve(const QByteArray &host)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    // One entry per address rather than one per socket type. No AI_ADDRCONFIG: it ignores
    // loopback, so where lo is the only interface even "localhost" would fail.
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *entries = nullptr;
    errno = 0;
    const int code = ::getaddrinfo(host.constData(), nullptr, &hints, &entries);
    // Out of descriptors, glibc cannot even read /etc/hosts and says "Name or service not
    // known", which would send the user looking for a typo.
    if (code == EAI_SYSTEM || (code != 0 && (errno == EMFILE || errno == ENFILE)))
        return { {}, SocketError::fromErrno(errno) };
    if (code != 0)
        return { {}, SocketError::fromResolver(code) };
    LookupAnswer answer;
    for (const addrinfo *entry = entries; entry; entry = entry->ai_next) {
        const QHostAddress address = hostAddress(*entry);
        if (!address.isNull())
            answer.addresses.append(address);
    }
    ::freeaddrinfo(entries);
    if (answer.addresses.isEmpty())
        answer.error = SocketError::fromResolver(EAI_NONAME);
    return answer;
}

class SystemHostLookup final : public HostLookup
{
public:
    ~SystemHostLookup() override { abandon(); }

    void lookUp(const QString &host) override
    {
        abandon();
        auto pending = std::make_shared<PendingLookup>();
        pending->owner = this;
        m_pending = pending;
        // getaddrinfo takes the ASCII form of an international name.
        const QByteArray name = QUrl::toAce(host);
        try {
            std::thread([pending, name] {
                const LookupAnswer answer = resolve(name);
                const std::lock_guard lock(pending->mutex);
                if (SystemHostLookup *const owner = pending->owner) {
                    QMetaObject::invokeMethod(
                        owner, [owner, pending, answer] { owner->deliver(pending, answer); },
                        Qt::QueuedConnection);
                }
            }).detach();
        } catch (const std::system_error &error) {
            const LookupAnswer answer { {}, SocketError::fromErrno(error.code().value()) };
            QMetaObject::invokeMethod(
                this, [this, pending, answer] { deliver(pending, answer); }, Qt::QueuedConnection);
        }
    }

private:
    void abandon()
    {
        // Moved out first: the mutex must outlive the lock even if this was the last holder.
        const std::shared_ptr<PendingLookup> pending = std::move(m_pending);
        if (!pending)
            return;
        const std::lock_guard lock(pending->mutex);
        pending->owner = nullptr;
    }

    void deliver(const std::shared_ptr<PendingLookup> &pending, const LookupAnswer &answer)
    {
        // An answer posted just before a newer lookup began is no longer wanted.
        if (pending != m_pending)
            return;
        m_pending.reset();
        emit answered(answer);
    }

    std::shared_ptr<PendingLookup> m_pending;
};

} // namespace

std::unique_ptr<HostLookup> systemHostLookup()
{
    return std::make_unique<SystemHostLookup>();
}
