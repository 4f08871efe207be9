#!/usr/bin/python3
"""A page, as the service sees it: a WebSocket client driven line by line.

Usage: page_client.py URL
Reads one JSON command per line on standard input and answers with one JSON
line on standard output:
  {"op":"send","text":T}          -> {"event":"sent"}
  {"op":"recv","timeout":S}       -> {"event":"message","text":T} or {"event":"timeout"}
                                     or {"event":"closed","code":C}
  {"op":"close"}                  -> {"event":"closed"} and the client ends
  {"op":"flood","count":N,"size":S} -> sends N requests padded to S bytes each,
                                     stopping early when the page is closed;
                                     answers {"event":"sent","count":K}
  {"op":"sessions","count":N}     -> opens N sessions one after the other on
                                     new connections, one request each, and
                                     answers {"event":"sessions","ok":K}
On start it prints {"event":"open"} once connected, or {"event":"error",...}.
"""
import asyncio
import json
import sys

import websockets


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


async def one_session(url, i):
    async with websockets.connect(url, max_size=None) as ws:
        await ws.send(json.dumps({"MainType": 9999, "SubType": 0, "MsgID": i}))
        reply = json.loads(await asyncio.wait_for(ws.recv(), 30))
        return reply.get("MsgID") == i and reply.get("Ret") == 1020


async def main():
    url = sys.argv[1]
    try:
        ws = await websockets.connect(url, max_size=None)
    except Exception as e:  # report, never hang the test
        emit({"event": "error", "text": str(e)})
        return
    emit({"event": "open"})
    loop = asyncio.get_running_loop()
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            break
        cmd = json.loads(line)
        op = cmd.get("op")
        if op == "send":
            await ws.send(cmd["text"])
            emit({"event": "sent"})
        elif op == "recv":
            try:
                text = await asyncio.wait_for(ws.recv(), cmd.get("timeout", 10))
                emit({"event": "message", "text": text})
            except asyncio.TimeoutError:
                emit({"event": "timeout"})
            except websockets.ConnectionClosed as e:
                emit({"event": "closed", "code": e.code})
        elif op == "flood":
            sent = 0
            for i in range(int(cmd["count"])):
                text = json.dumps({"MainType": 4, "SubType": 0, "MsgID": i, "Pad": ""})
                try:
                    await ws.send(text[:-2] + "x" * (int(cmd["size"]) - len(text)) + text[-2:])
                except websockets.ConnectionClosed:
                    break
                sent += 1
            emit({"event": "sent", "count": sent})
        elif op == "close":
            await ws.close()
            emit({"event": "closed"})
            return
        elif op == "sessions":
            ok = 0
            for i in range(int(cmd["count"])):
                if await one_session(url, i + 1):
                    ok += 1
            emit({"event": "sessions", "ok": ok})
    await ws.close()


asyncio.run(main())
