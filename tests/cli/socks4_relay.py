#!/usr/bin/env python3
"""A SOCKS 4 and 4A proxy for the tests, where no installed server speaks
them: it grants every CONNECT, relays both ways, and writes one line per
request to the log file named on its command line:

    SOCKS4 CONNECT 127.0.0.1:8080 user=ident
    SOCKS4A CONNECT localhost:8080 user=ident

It listens on 127.0.0.1 (a free port), prints the port as its first line on
standard output and runs until killed.
"""
import socket
import struct
import sys
import threading


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        part = conn.recv(n - len(data))
        if not part:
            raise ConnectionError("closed")
        data += part
    return data


def read_zstring(conn):
    data = b""
    while True:
        c = read_exact(conn, 1)
        if c == b"\0":
            return data.decode("latin-1")
        data += c
        if len(data) > 255:
            raise ConnectionError("name too long")


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    finally:
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(conn, log):
    try:
        version, command, port = struct.unpack("!BBH", read_exact(conn, 4))
        ip = read_exact(conn, 4)
        user = read_zstring(conn)
        if version != 4 or command != 1:
            conn.sendall(b"\0\x5b" + b"\0" * 6)
            return
        if ip[:3] == b"\0\0\0" and ip[3] != 0:
            kind, host = "SOCKS4A", read_zstring(conn)
        else:
            kind, host = "SOCKS4", socket.inet_ntoa(ip)
        with open(log, "a") as f:
            f.write("%s CONNECT %s:%d user=%s\n" % (kind, host, port, user))
        try:
            upstream = socket.create_connection((host, port), timeout=10)
        except OSError:
            conn.sendall(b"\0\x5b" + b"\0" * 6)
            return
        upstream.settimeout(None)
        conn.sendall(b"\0\x5a" + b"\0" * 6)
        threading.Thread(target=pump, args=(upstream, conn), daemon=True).start()
        pump(conn, upstream)
    except (ConnectionError, OSError):
        pass
    finally:
        conn.close()


def main():
    log = sys.argv[1]
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, log), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
