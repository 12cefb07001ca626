// SPDX-License-Identifier: MIT
#include "net/SocketError.h"

#include <netdb.h>

SocketError SocketError::fromErrno(int code)
{
    return SocketError { code, qt_error_string(code), Kind::System };
}

SocketError SocketError::fromResolver(int code)
{
    return SocketError { code, QString::fromLocal8Bit(::gai_strerror(code)), Kind::Resolver };
}
