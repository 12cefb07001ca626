// SPDX-License-Identifier: MIT
#pragma once

class QObject;
class QSocketNotifier;

// One owner for a descriptor and the notifier that watches it. The notifier is disabled and let
// go before the descriptor closes: a notifier left on a closed number would watch whatever the
// system hands that number to next. It goes by deleteLater(), so the descriptor may be closed
// from inside the notifier's own signal.
class NotifiedDescriptor
{
public:
    NotifiedDescriptor() = default;
    // Takes the descriptor; -1 (a failed open) holds none.
    explicit NotifiedDescriptor(int fd)
        : m_fd(fd)
    { }
    ~NotifiedDescriptor() { close(); }
    NotifiedDescriptor(NotifiedDescriptor &&other) noexcept;
    NotifiedDescriptor &operator=(NotifiedDescriptor &&other) noexcept;
    NotifiedDescriptor(const NotifiedDescriptor &) = delete;
    NotifiedDescriptor &operator=(const NotifiedDescriptor &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // A notifier for reads on an open descriptor, a child of owner so that it lives in the
    // owner's thread. It stays that owner's child when the descriptor is moved.
    QSocketNotifier *notifyReads(QObject *owner);
    // Null until notifyReads() and after close().
    QSocketNotifier *notifier() const { return m_notifier; }
    // 0, or the error number of a failed close; Linux lets go of the descriptor either way.
    int close();

private:
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
