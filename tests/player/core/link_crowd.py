#!/usr/bin/python3
"""The service's end of the local link for many players at once: listens on a
Unix socket, accepts every player, reads and drops what they send.

Usage: link_crowd.py SOCKET_PATH
Commands on stdin, one per line:
  wait N             prints "accepted N" once N players are connected
  send COUNT TEXT    sends TEXT COUNT times, as frames in one write, to every player
  replies N          prints "replied N" once the players sent N frames in all
  close              closes every connection at once and prints "closed"
Lines on stdout: "listening", "accepted N", "replied N", "closed".
"""
import os
import select
import socket
import sys


def out(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def frame(payload):
    return b"%08x" % len(payload) + payload


def main():
    path = sys.argv[1]
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(128)
    out("listening")
    players = []
    buffers = {}
    frames = 0
    waiting = None
    awaited = None
    pending = b""
    stdin_fd = sys.stdin.fileno()
    while True:
        ready, _, _ = select.select([stdin_fd, server] + players, [], [])
        if server in ready:
            conn, _ = server.accept()
            players.append(conn)
        for conn in [c for c in players if c in ready]:
            try:
                data = conn.recv(1 << 20)
            except OSError:
                data = b""
            if not data:
                players.remove(conn)
                conn.close()
                continue
            buf = buffers.get(conn, b"") + data
            while len(buf) >= 8 and len(buf) >= 8 + int(buf[:8], 16):
                buf = buf[8 + int(buf[:8], 16):]
                frames += 1
            buffers[conn] = buf
        if waiting is not None and len(players) >= waiting:
            out("accepted %d" % len(players))
            waiting = None
        if awaited is not None and frames >= awaited:
            out("replied %d" % frames)
            awaited = None
        if stdin_fd not in ready:
            continue
        chunk = os.read(stdin_fd, 1 << 22)
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            words = line.split(b" ", 2)
            if words[0] == b"wait":
                waiting = int(words[1])
                if len(players) >= waiting:
                    out("accepted %d" % len(players))
                    waiting = None
            elif words[0] == b"replies":
                awaited = int(words[1])
                if frames >= awaited:
                    out("replied %d" % frames)
                    awaited = None
            elif words[0] == b"send":
                data = frame(words[2]) * int(words[1])
                for conn in players:
                    conn.setblocking(True)
                    conn.sendall(data)
            elif words[0] == b"close":
                for conn in players:
                    conn.close()
                players = []
                out("closed")


main()
