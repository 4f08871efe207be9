#!/usr/bin/python3
"""A page on Python's websockets library for the isolation tests of the raw
socket server.

Usage: raw_ws_page.py URL MODE
Prints {"event": "open"} once connected, then by MODE:
  slow   reads nothing (the library holds one message at most, and a small
         receive buffer keeps the kernel from taking in tens of MiB, so the
         rest waits in the server) until a line "read N" comes on standard input;
         then reads N messages and prints {"count": n, "sizes": [distinct sizes]}
         or, when the connection ends first, {"closed": code, "count": n}
  big    sends one text message of 2 MiB and waits for the close
  flood  sends small messages without pause until the connection closes
In every mode the close ends with {"closed": code}.
"""
import asyncio
import json
import socket
import sys
import urllib.parse

import websockets


def say(obj):
    print(json.dumps(obj), flush=True)


def small_buffer_socket(url):
    # Set before the connect, the size also keeps the kernel from growing it.
    parts = urllib.parse.urlsplit(url)
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
    sock.connect((parts.hostname, parts.port))
    sock.setblocking(False)
    return sock


async def main():
    url, mode = sys.argv[1], sys.argv[2]
    extra = {"sock": small_buffer_socket(url)} if mode == "slow" else {}
    async with websockets.connect(url, max_size=None, max_queue=1, compression=None,
                                  close_timeout=10, **extra) as ws:
        say({"event": "open"})
        if mode == "slow":
            line = await asyncio.get_running_loop().run_in_executor(None, sys.stdin.readline)
            count = int(line.split()[1])
            sizes = set()
            n = 0
            try:
                for n in range(1, count + 1):
                    sizes.add(len(await asyncio.wait_for(ws.recv(), 60)))
            except websockets.ConnectionClosed:
                say({"closed": ws.close_code, "count": n - 1})
                return
            say({"count": n, "sizes": sorted(sizes)})
        elif mode == "big":
            try:
                await ws.send("b" * (2 << 20))
            except websockets.ConnectionClosed:
                pass
        elif mode == "flood":
            try:
                i = 0
                while True:
                    await ws.send(json.dumps({"MainType": 9999, "n": i}))
                    i += 1
                    if i % 50 == 0:
                        await asyncio.sleep(0.001)
            except websockets.ConnectionClosed:
                pass
        await ws.wait_closed()
        say({"closed": ws.close_code})


try:
    asyncio.run(main())
except Exception as e:  # report, never hang the test
    say({"error": repr(e)})
