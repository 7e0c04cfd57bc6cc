"""Sockets that keep their port while the service behind them is off."""

import socket
import struct


def resolve(host, port):
    """(family, sockaddr) of the first TCP address for host:port."""
    infos = socket.getaddrinfo(host, port, socket.AF_UNSPEC,
                               socket.SOCK_STREAM, 0, socket.AI_PASSIVE)
    family, _, _, _, sockaddr = infos[0]
    return family, sockaddr


def bound_socket(family, sockaddr):
    """A TCP socket bound to sockaddr with SO_REUSEADDR, not yet listening.

    A bound socket that does not listen refuses connections, so it holds the
    port while the service is off.
    """
    sock = socket.socket(family, socket.SOCK_STREAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if family == socket.AF_INET6:
            sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        sock.bind(sockaddr)
    except OSError:
        sock.close()
        raise
    return sock


class PortHolder:
    """One port: listening (service on) or only bound (refusing)."""

    def __init__(self, host, port):
        family, sockaddr = resolve(host, port)
        self.family = family
        self.sock = bound_socket(family, sockaddr)
        self.sockaddr = self.sock.getsockname()
        self.port = self.sockaddr[1]

    def listen(self, backlog=64):
        """Returns the listening socket (the caller's until unlisten)."""
        self.sock.listen(backlog)
        return self.sock

    def unlisten(self):
        """Closes the listening socket and holds the port with a fresh one."""
        old, self.sock = self.sock, None
        if old is not None:
            old.close()
        self.sock = bound_socket(self.family, self.sockaddr)

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None


def reset_and_close(sock):
    """Closes with SO_LINGER 0 so that the peer sees a reset (RST)."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                        struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()
