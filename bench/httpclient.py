"""A plain HTTP/1.1 client on one kept-open connection, for the benchmarks:
each request is timed on its own, with nothing of a library's in between."""
import socket


def connect(root):
    connection = socket.create_connection((root.hostname, root.port), timeout=10)
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return connection


def fetch(connection, root, target):
    """Sends one GET and reads its reply whole: (status, header fields
    lower-cased, body)."""
    connection.sendall(b"GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (target, root.netloc.encode()))
    reply = b""
    while b"\r\n\r\n" not in reply:
        reply += _more(connection)
    head, _, body = reply.partition(b"\r\n\r\n")
    fields = dict(line.split(b":", 1) for line in head.lower().split(b"\r\n")[1:])
    while len(body) < int(fields[b"content-length"]):
        body += _more(connection)
    return int(head[9:12]), fields, body


def _more(connection):
    more = connection.recv(65536)
    if not more:
        raise OSError("closed")
    return more
