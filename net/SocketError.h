// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// A failed socket call or name lookup: its error number and the text that goes with it, taken
// at the moment it failed. The kind says whose number it is, so a box never pairs one source's
// number with another's text.
struct SocketError
{
    enum class Kind {
        System, // errno, with strerror's text
        Resolver, // getaddrinfo's code, with gai_strerror's text
    };

    int code = 0;
    QString description;
    Kind kind = Kind::System;

    static SocketError fromErrno(int code);
    static SocketError fromResolver(int code);
};

// What a socket call came to: true when it succeeded; otherwise error() says why.
class SocketResult
{
public:
    SocketResult() = default;
    SocketResult(SocketError error)
        : m_error(std::move(error))
    { }

    explicit operator bool() const { return !m_error; }
    const SocketError &error() const { return *m_error; }
    SocketError &error() { return *m_error; }

private:
    std::optional<SocketError> m_error;
};
