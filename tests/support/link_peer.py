#!/usr/bin/python3
"""A stand-in for the service's end of the local link, written with Python's
own socket module: listens on a Unix socket, frames what it is told to send,
and prints every frame it receives after checking it with jq.

Commands on stdin, one per line:
  send <text>        send <text> as one frame
  raw <hex>          send raw bytes
  close              close the connection to the player
  quit               stop
Lines on stdout:
  listening          the socket is ready
  accepted           a player connected
  recv <payload>     one frame from the player (compact JSON per jq)
  raw <hex>          the same frame's payload bytes, as sent
  badjson <payload>  a frame that jq rejects
  closed             the player closed the connection
"""
import os
import select
import socket
import subprocess
import sys


def out(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def check_json(payload):
    r = subprocess.run(["jq", "-c", "."], input=payload, capture_output=True)
    if r.returncode != 0 or not r.stdout.strip():
        return None
    return r.stdout.decode("utf-8").strip()


def main():
    path = sys.argv[1]
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(4)
    out("listening")
    conn = None
    buf = b""
    pending = b""
    stdin_fd = sys.stdin.fileno()
    running = True
    while running:
        watch = [stdin_fd, server] if conn is None else [stdin_fd, conn]
        ready, _, _ = select.select(watch, [], [])
        if stdin_fd in ready:
            chunk = os.read(stdin_fd, 65536)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                cmd, _, arg = line.partition(b" ")
                if cmd == b"send" and conn:
                    conn.sendall(b"%08x" % len(arg) + arg)
                elif cmd == b"raw" and conn:
                    conn.sendall(bytes.fromhex(arg.decode()))
                elif cmd == b"close" and conn:
                    conn.close()
                    conn = None
                elif cmd == b"quit":
                    running = False
                    break
            continue
        if server in ready and conn is None:
            conn, _ = server.accept()
            out("accepted")
        elif conn is not None and conn in ready:
            data = conn.recv(65536)
            if not data:
                conn.close()
                conn = None
                out("closed")
                continue
            buf += data
            while len(buf) >= 8:
                length = int(buf[:8], 16)
                if len(buf) < 8 + length:
                    break
                payload = buf[8:8 + length]
                buf = buf[8 + length:]
                compact = check_json(payload)
                if compact is None:
                    out("badjson " + payload.decode("utf-8", "replace"))
                else:
                    out("recv " + compact)
                    out("raw " + payload.hex())
    if conn:
        conn.close()
    os.unlink(path)


if __name__ == "__main__":
    main()
