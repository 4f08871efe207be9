#!/usr/bin/python3
"""Test double of the player.

Takes the player's command line (session id, local socket path, player
folder, browser window), connects to the socket path, reads frames of the link
format and answers them. Behaviour is chosen by the environment:

QV_DOUBLE_MODE  echo (default), silent (never connects), flood (writes 1 MiB
                to standard output before connecting), impostor (a second
                process connects first and reports whether it was refused)
QV_DOUBLE_SILENT_SESSIONS  session ids (comma-separated) whose double is
                silent whatever the mode
QV_DOUBLE_LOG   folder for event files: <pid>.start (JSON with argv, cwd),
                <pid>.quit once the link closed, <pid>.impostor with the
                impostor's outcome
Requests 9100-9105 ask for answers of a kind; 9106 makes it stop reading and
9107 makes it die at once; 9108 asks for "Count" events of "Size" bytes each;
a request whose first bytes name MainType 9109 is answered with its size
alone, unparsed (near-cap messages of the benchmarks).
"""
import json
import os
import re
import secrets
import socket
import sys
import time

LOG = os.environ.get("QV_DOUBLE_LOG", "")
SIZE_ONLY = re.compile(rb'^\{"MainType":9109,"MsgID":(\d+)')


def record(name, data):
    if not LOG:
        return
    path = os.path.join(LOG, "%d.%s" % (os.getpid(), name))
    with open(path + ".tmp", "w") as f:
        json.dump(data, f)
    os.rename(path + ".tmp", path)


def frame(payload):
    return b"%08x" % len(payload) + payload


def connect(path, timeout=30.0):
    deadline = time.monotonic() + timeout
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.02)


def run_impostor(path):
    """Connects before the real player; the service must refuse it."""
    pid = os.fork()
    if pid != 0:
        return pid
    outcome = "accepted"
    try:
        s = connect(path, 5.0)
        s.sendall(frame(b'{"MainEvent":666,"SubEvent":0,"Impostor":true}'))
        s.settimeout(10.0)
        data = s.recv(65536)
        outcome = "closed" if data == b"" else "got data"
    except socket.timeout:
        outcome = "kept open"
    except OSError as e:
        outcome = "closed" if isinstance(e, (ConnectionResetError, BrokenPipeError)) else "error " + str(e)
    record("impostor", {"outcome": outcome})
    os._exit(0)


def reply_for(text):
    try:
        req = json.loads(text)
    except ValueError:
        return []
    if not isinstance(req, dict):
        return []
    mt = req.get("MainType")
    base = {"Msg": mt, "SubMsg": req.get("SubType"), "MsgID": req.get("MsgID")}
    if mt == 32:
        key = "".join(chr(33 + secrets.randbelow(94)) for _ in range(16))
        return [dict(base, key={"key": key, "iv": ""}, Ret=100)]
    if mt == 9:
        return []
    if mt == 9100:
        return [dict(base, Ret=100, Argv=sys.argv[1:], Cwd=os.getcwd(), Pid=os.getpid())]
    if mt == 9101:
        return [dict(base, Ret=100, Data="x" * int(req.get("Size", 0)))]
    if mt == 9105:
        return [dict(base, Ret=100, Seq=i) for i in range(int(req.get("Count", 1)))]
    return [dict(base, Ret=1020, Echo=text)]


def encode(obj):
    return json.dumps(obj, separators=(",", ":")).encode()


def main():
    if len(sys.argv) < 4:
        sys.exit(2)
    path = sys.argv[2]
    mode = os.environ.get("QV_DOUBLE_MODE", "echo")
    # Sessions named here never connect, whatever the mode of the others.
    if sys.argv[1] in os.environ.get("QV_DOUBLE_SILENT_SESSIONS", "").split(","):
        mode = "silent"
    record("start", {"argv": sys.argv[1:], "cwd": os.getcwd(), "mode": mode})
    if mode == "silent":
        time.sleep(60)
        return
    if mode == "flood":
        sys.stdout.buffer.write(b"x" * (1 << 20))
        sys.stdout.flush()
    if mode == "impostor":
        child = run_impostor(path)
        time.sleep(0.3)
    s = connect(path)
    buf = bytearray()
    while True:
        data = s.recv(1 << 20)
        if not data:
            break
        buf += data
        while len(buf) >= 8:
            length = int(buf[:8], 16)
            if len(buf) < 8 + length:
                break
            payload = bytes(buf[8:8 + length])
            del buf[:8 + length]
            size_only = SIZE_ONLY.match(payload[:64])
            if size_only:
                s.sendall(frame(encode({"Msg": 9109, "MsgID": int(size_only.group(1)), "Ret": 100,
                                        "Size": length})))
                continue
            text = payload.decode("utf-8", "replace")
            try:
                req = json.loads(text)
            except ValueError:
                req = None
            mt = req.get("MainType") if isinstance(req, dict) else None
            if mt == 9106:
                # Stops reading: the link fills up.
                time.sleep(600)
            elif mt == 9107:
                # Dies at once, as a crash would.
                os._exit(9)
            elif mt == 9102:
                # A header that is no number, then a good frame.
                s.sendall(b"zzzzzzzz" + frame(encode({"Msg": 9102, "Ret": 100})))
            elif mt == 9103:
                # One frame in three pieces.
                data = frame(encode({"Msg": 9103, "Ret": 100, "Split": True}))
                for piece in (data[:4], data[4:13], data[13:]):
                    s.sendall(piece)
                    time.sleep(0.05)
            elif mt == 9108:
                # A burst of events, as a device's alarms come.
                pad = "x" * int(req.get("Size", 0))
                for i in range(int(req.get("Count", 1))):
                    s.sendall(frame(encode({"MainEvent": 9108, "SubEvent": 0, "Seq": i, "Data": pad})))
            elif mt == 9104:
                # Two frames in one write.
                s.sendall(frame(encode({"Msg": 9104, "Seq": 1})) + frame(encode({"Msg": 9104, "Seq": 2})))
            else:
                for r in reply_for(text):
                    s.sendall(frame(encode(r)))
    record("quit", {})
    if mode == "impostor":
        os.waitpid(child, 0)


if __name__ == "__main__":
    main()
