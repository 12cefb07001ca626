// SPDX-License-Identifier: MIT
#include "net/NotifiedDescriptor.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>
#include <utility>

NotifiedDescriptor::NotifiedDescriptor(NotifiedDescriptor &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_notifier(std::exchange(other.m_notifier, nullptr))
{ }

NotifiedDescriptor &NotifiedDescriptor::operator=(NotifiedDescriptor &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_notifier = std::exchange(other.m_notifier, nullptr);
    }
    return *this;
}

QSocketNotifier *NotifiedDescriptor::notifyReads(QObject *owner)
{
    if (m_fd < 0 || m_notifier)
        return m_notifier;
    m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, owner);
    return m_notifier;
}

int NotifiedDescriptor::close()
{
    if (m_notifier) {
        // Its signal may be the one being handled right now.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd < 0)
        return 0;
    return ::close(std::exchange(m_fd, -1)) == 0 ? 0 : errno;
}
