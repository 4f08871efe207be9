#!/usr/bin/env python3
"""An FTP client built on Python's ftplib, driven by the FTP server tests.

    ftp_peer.py transfer HOST PORT USER PASSWORD SIZE
    ftp_peer.py session HOST PORT USER PASSWORD
    ftp_peer.py traverse HOST PORT USER PASSWORD PATH

Prints one JSON object: the server's replies (or the error text) per step.
"""
import ftplib
import io
import json
import os
import sys


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


def main():
    mode, host, port, user, password = sys.argv[1:6]
    ftp = connect(host, port, user, password)
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
