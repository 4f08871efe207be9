#!/usr/bin/python3
"""A page on Python's websockets library against the raw socket server.

Usage: raw_ws_python.py URL
Sends five messages back to back, a 300000-byte message and a fragmented one,
pings, reads the seven answers and closes; prints one JSON line with what it
got: {"replies": [...first 40 characters...], "lengths": [...], "pong": bool,
"close": code}.
"""
import asyncio
import json
import sys

import websockets


async def main():
    async with websockets.connect(sys.argv[1], max_size=None, compression=None) as ws:
        for i in range(5):
            await ws.send(json.dumps({"n": i}))
        await ws.send("x" * 300000)
        await ws.send(['{"frag":', '"ment', 'ed"}'])
        pong = await ws.ping(b"abc")
        await asyncio.wait_for(pong, 20)
        replies = [await asyncio.wait_for(ws.recv(), 20) for _ in range(7)]
        await ws.close(1000)
        print(json.dumps({"replies": [r[:40] for r in replies], "lengths": [len(r) for r in replies],
                          "pong": True, "close": ws.close_code}))


try:
    asyncio.run(main())
except Exception as e:  # report, never hang the test
    print(json.dumps({"error": repr(e)}))
