#!/usr/bin/python3
"""Pages that misbehave, for the service's limits. Prints one JSON line per
outcome on standard output.

Usage: hostile_page.py URL MODE [ARGS]
  big SIZE PIECES    sends one text message of SIZE bytes (in PIECES frames)
                     and waits for its answer:
                     {"event":"message","size":N} or {"event":"closed","code":C}
  deaf COUNT SIZE    a page on a plain socket that asks COUNT times for SIZE
                     bytes (MainType 9101 of the player double) and never
                     reads; prints {"event":"sent"} and then holds the
                     connection until standard input ends
  flood COUNT SIZE   tells its player double to stop reading (9106), sends
                     COUNT messages of SIZE bytes and waits for the page's end:
                     {"event":"closed","code":C} (or "timeout")
  sessions COUNT     opens COUNT pages at once, each sending one request,
                     prints {"replies":K,"codes":[...]} (close codes of the
                     pages closed instead of answered) and holds the pages
                     until standard input ends
  pings COUNT SIZE   a page on a plain socket that sends COUNT pings of SIZE
                     bytes and never reads the pongs; prints {"event":"sent"},
                     or {"event":"cut"} when the service ended the connection
                     first, then holds it until standard input ends
  starting COUNT SIZE  sends COUNT messages of SIZE bytes at once (its player
                     still starting) and waits for the page's end:
                     {"event":"closed","code":C} (or "timeout")
  reset KIND COUNT   a page on a plain socket that prints {"event":"open"},
                     waits for a line on standard input, sends COUNT requests
                     of KIND, never reads the answers and resets its connection
                     while they flow; prints {"event":"reset"}. KIND: reply
                     (answers of 64 KiB), key (session key replies), keyed
                     (the key reply read first, then encrypted answers), event
                     (bursts of events), page (firmware replies the service
                     sends itself)
  reset-ws KIND COUNT  the same on Python's websockets: reading paused, the
                     connection aborted with a reset
"""
import asyncio
import base64
import json
import os
import socket
import struct
import sys
import time

import websockets


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def request(msg_id, pad=0):
    text = json.dumps({"MainType": 9999, "SubType": 0, "MsgID": msg_id, "Pad": ""})
    return text[:-2] + "x" * pad + text[-2:]


async def outcome(ws, timeout=60):
    try:
        reply = await asyncio.wait_for(ws.recv(), timeout)
        return {"event": "message", "size": len(reply)}
    except websockets.ConnectionClosed as e:
        return {"event": "closed", "code": e.code}
    except asyncio.TimeoutError:
        return {"event": "timeout"}


async def big(url, size, pieces):
    async with websockets.connect(url, max_size=None) as ws:
        text = request(1, max(0, size - len(request(1))))
        try:
            if pieces <= 1:
                await ws.send(text)
            else:
                step = (len(text) + pieces - 1) // pieces
                await ws.send(text[i:i + step] for i in range(0, len(text), step))
        except websockets.ConnectionClosed as e:
            emit({"event": "closed", "code": e.code})
            return
        emit(await outcome(ws))


async def send_many(url, count, size, first=None):
    """Sends `first` (if any), then COUNT requests of SIZE bytes; reports the end."""
    async with websockets.connect(url, max_size=None) as ws:
        try:
            if first is not None:
                await ws.send(json.dumps(first))
            for i in range(count):
                await ws.send(request(i + 1, size))
        except websockets.ConnectionClosed as e:
            emit({"event": "closed", "code": e.code})
            return
        emit(await outcome(ws, 120))


def masked_text_frame(payload):
    mask = os.urandom(4)
    head = bytearray([0x81])
    n = len(payload)
    if n < 126:
        head.append(0x80 | n)
    elif n < 65536:
        head += bytes([0x80 | 126]) + n.to_bytes(2, "big")
    else:
        head += bytes([0x80 | 127]) + n.to_bytes(8, "big")
    body = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    return bytes(head) + mask + body


def plain_page(url):
    """A page on a plain socket with a small receive buffer, after the
    opening handshake; None when the service closed it."""
    host, port = url.split("//", 1)[1].split(":")
    s = socket.create_connection((host, int(port)))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall(("GET / HTTP/1.1\r\nHost: %s:%s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (host, port, key)).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(1)
        if not chunk:
            return None
        head += chunk
    return s


def recv_exactly(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_text(s):
    """The next frame the service sends (never masked), as text."""
    b0, b1 = recv_exactly(s, 2)
    n = b1 & 0x7F
    if n == 126:
        n = struct.unpack(">H", recv_exactly(s, 2))[0]
    elif n == 127:
        n = struct.unpack(">Q", recv_exactly(s, 8))[0]
    return recv_exactly(s, n).decode()


def reset_requests(kind, count):
    """The requests of a reset page: what it asks for before it resets."""
    shapes = {
        "reply": {"MainType": 9101, "Size": 65536},
        "key": {"MainType": 32},
        "keyed": {"MainType": 9101, "Size": 8000},
        "event": {"MainType": 9108, "Count": 64, "Size": 16384},
        "page": {"MainType": 201, "SubType": 5},
    }
    return [json.dumps(dict(shapes[kind], MsgID=i + 1)) for i in range(count)]


def reset_with_rst(sock):
    # Linger 0: the close sends a reset, not a FIN.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def reset(url, kind, count):
    s = plain_page(url)
    if s is None:
        emit({"event": "closed"})
        return
    if kind == "keyed":
        s.sendall(masked_text_frame(json.dumps({"MainType": 32, "MsgID": 0}).encode()))
        read_text(s)
    emit({"event": "open"})
    sys.stdin.readline()
    for text in reset_requests(kind, count):
        s.sendall(masked_text_frame(text.encode()))
    # The answers are on their way: the reset meets them.
    time.sleep(0.05)
    reset_with_rst(s)
    emit({"event": "reset"})


async def reset_ws(url, kind, count):
    ws = await websockets.connect(url, max_size=None)
    if kind == "keyed":
        await ws.send(json.dumps({"MainType": 32, "MsgID": 0}))
        await ws.recv()
    emit({"event": "open"})
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.readline)
    ws.transport.pause_reading()
    for text in reset_requests(kind, count):
        await ws.send(text)
    await asyncio.sleep(0.05)
    sock = ws.transport.get_extra_info("socket")
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    ws.transport.abort()
    emit({"event": "reset"})


def pings(url, count, size):
    s = plain_page(url)
    if s is None:
        emit({"event": "closed"})
        return
    ping = bytearray([0x89, 0x80 | size]) + os.urandom(4) + b"p" * size
    batch = 1000
    try:
        for _ in range(count // batch):
            s.sendall(bytes(ping) * batch)
        emit({"event": "sent"})
    except OSError:
        emit({"event": "cut"})
    sys.stdin.read()
    s.close()


def deaf(url, count, size):
    s = plain_page(url)
    if s is None:
        emit({"event": "closed"})
        return
    for i in range(count):
        s.sendall(masked_text_frame(json.dumps({"MainType": 9101, "MsgID": i + 1, "Size": size}).encode()))
    emit({"event": "sent"})
    sys.stdin.read()
    s.close()


async def sessions(url, count):
    pages = []
    for _ in range(count):
        pages.append(await websockets.connect(url, max_size=None))
    for i, ws in enumerate(pages):
        try:
            await ws.send(request(i + 1))
        except websockets.ConnectionClosed:
            pass
    results = await asyncio.gather(*(outcome(ws) for ws in pages))
    emit({"replies": sum(1 for r in results if r["event"] == "message"),
          "codes": [r["code"] for r in results if r["event"] == "closed"]})
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    for ws in pages:
        await ws.close()


def main():
    url, mode = sys.argv[1], sys.argv[2]
    if mode == "big":
        asyncio.run(big(url, int(sys.argv[3]), int(sys.argv[4])))
    elif mode == "deaf":
        deaf(url, int(sys.argv[3]), int(sys.argv[4]))
    elif mode == "flood":
        stop_reading = {"MainType": 9106, "MsgID": 0}
        asyncio.run(send_many(url, int(sys.argv[3]), int(sys.argv[4]), stop_reading))
    elif mode == "sessions":
        asyncio.run(sessions(url, int(sys.argv[3])))
    elif mode == "pings":
        pings(url, int(sys.argv[3]), int(sys.argv[4]))
    elif mode == "starting":
        asyncio.run(send_many(url, int(sys.argv[3]), int(sys.argv[4])))
    elif mode == "reset":
        reset(url, sys.argv[3], int(sys.argv[4]))
    elif mode == "reset-ws":
        asyncio.run(reset_ws(url, sys.argv[3], int(sys.argv[4])))


main()
