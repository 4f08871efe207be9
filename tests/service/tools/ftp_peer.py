#!/usr/bin/env python3
"""An FTP client built on Python's ftplib, driven by the FTP server tests.

    ftp_peer.py transfer HOST PORT USER PASSWORD SIZE
    ftp_peer.py session HOST PORT USER PASSWORD
    ftp_peer.py traverse HOST PORT USER PASSWORD PATH
    ftp_peer.py reset_data HOST PORT USER PASSWORD NAME
    ftp_peer.py close_control HOST PORT USER PASSWORD NAME
    ftp_peer.py idle HOST PORT USER PASSWORD COUNT

Prints one JSON object: the server's replies (or the error text) per step.
"""
import ftplib
import io
import json
import os
import socket
import struct
import sys
import time


def attempt(fn, *args):
    try:
        r = fn(*args)
        return r if isinstance(r, str) else "ok"
    except ftplib.all_errors as e:
        return str(e)


def connect(host, port, user, password):
    ftp = ftplib.FTP()
    ftp.connect(host, int(port), timeout=60)
    ftp.login(user, password)
    return ftp


def transfer(ftp, size):
    data = os.urandom(size)
    name = "f_%d.bin" % size
    out = {"stor": attempt(ftp.storbinary, "STOR " + name, io.BytesIO(data))}
    out["size"] = attempt(ftp.sendcmd, "SIZE " + name)
    got = io.BytesIO()
    r = attempt(ftp.retrbinary, "RETR " + name, got.write)
    out["retr"] = r if not r.startswith("226") else ("same" if got.getvalue() == data else "different")
    return out


def session(ftp):
    out = {"pwd": ftp.pwd()}
    out["mkd"] = attempt(ftp.sendcmd, "MKD pics")
    out["mkd_again"] = attempt(ftp.sendcmd, "MKD pics")
    out["cwd"] = attempt(ftp.cwd, "pics")
    out["pwd_after"] = ftp.pwd()
    out["cwd_up"] = attempt(ftp.cwd, "..")
    out["pwd_up"] = ftp.pwd()
    out["port"] = attempt(ftp.sendcmd, "PORT 127,0,0,1,200,10")
    out["rest0"] = attempt(ftp.sendcmd, "REST 0")
    out["rest5"] = attempt(ftp.sendcmd, "REST 5")
    out["type"] = attempt(ftp.sendcmd, "TYPE I")
    out["list"] = attempt(ftp.sendcmd, "LIST")
    return out


def traverse(ftp, path):
    got = io.BytesIO()
    out = {"retr": attempt(ftp.retrbinary, "RETR " + path, got.write)}
    out["retr_bytes"] = got.getvalue().decode("latin-1")
    out["stor"] = attempt(ftp.storbinary, "STOR " + path, io.BytesIO(b"EVIL"))
    out["size"] = attempt(ftp.sendcmd, "SIZE " + path)
    out["mkd"] = attempt(ftp.sendcmd, "MKD " + path + "/made")
    out["cwd"] = attempt(ftp.cwd, path)
    out["pwd"] = ftp.pwd()
    out["stor_after_cwd"] = attempt(ftp.storbinary, "STOR dropped.txt", io.BytesIO(b"EVIL"))
    return out


def abandon(ftp, name, how):
    """Starts an upload, sends part of it, then goes away in the middle."""
    conn = ftp.transfercmd("STOR " + name)
    conn.sendall(os.urandom(300000))
    out = {}
    if how == "reset_data":
        # A zero linger time makes close() send a reset, not an end.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
        out["reply"] = attempt(ftp.voidresp)
    else:
        ftp.close()
        # The server drops the data connection of an upload whose client is gone.
        conn.settimeout(20)
        try:
            out["data"] = "closed" if conn.recv(1) == b"" else "data"
        except OSError as e:
            out["data"] = "closed" if not isinstance(e, socket.timeout) else "open"
        conn.close()
    return out


def read_line(sock):
    line = b""
    while not line.endswith(b"\r\n"):
        chunk = sock.recv(1)
        if not chunk:
            break
        line += chunk
    return line.decode("latin-1").strip()


def idle(host, port, user, password, count):
    """One logged-in session and COUNT - 1 that never log in fill the
    server; a further connection is refused until the idle ones time out."""
    ftp = connect(host, port, user, password)
    idle_socks = []
    for _ in range(count - 1):
        # Before connecting: the server's clock starts at its accept.
        opened = time.monotonic()
        s = socket.create_connection((host, int(port)), timeout=60)
        idle_socks.append((s, opened, read_line(s)))
    extra = socket.create_connection((host, int(port)), timeout=60)
    out = {"welcomes": len([w for _, _, w in idle_socks if w.startswith("220")]),
           "extra": read_line(extra)}
    extra.close()
    goodbyes, lasted = set(), []
    for s, opened, _ in idle_socks:
        goodbyes.add(read_line(s))
        lasted.append(time.monotonic() - opened)
        if s.recv(1) == b"":
            s.close()
    out["goodbyes"] = sorted(goodbyes)
    out["shortest_ms"] = int(min(lasted) * 1000)
    out["logged_in_pwd"] = attempt(ftp.pwd)
    later = connect(host, port, user, password)
    out["later_pwd"] = attempt(later.pwd)
    attempt(later.quit)
    attempt(ftp.quit)
    return out


def main():
    mode, host, port, user, password = sys.argv[1:6]
    if mode == "idle":
        print(json.dumps(idle(host, port, user, password, int(sys.argv[6]))))
        return
    ftp = connect(host, port, user, password)
    if mode in ("reset_data", "close_control"):
        print(json.dumps(abandon(ftp, sys.argv[6], mode)))
        return
    if mode == "transfer":
        out = transfer(ftp, int(sys.argv[6]))
    elif mode == "session":
        out = session(ftp)
    else:
        out = traverse(ftp, sys.argv[6])
    attempt(ftp.quit)
    print(json.dumps(out))


if __name__ == "__main__":
    main()
