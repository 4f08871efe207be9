#!/usr/bin/python3
"""The web-file server of the page update, and an outside server for control
requests, on Python's http.server.

Usage: page_server.py ROOT MODE [--tls CERT KEY]
Builds ROOT/web/Web/WebInfo.txt and ROOT/web/Web/Web.zip for MODE, serves ROOT
on a free loopback port and prints "port N". MODE:
  good       version V1.0.10 with a package whose common.js is "new common"
  wrong_md5  the same package, announced with another MD5
  zip_slip   a package with an entry "../escaped.js"
  absolute   a package with an entry "/tmp/abs-<pid>.js"
  link       a package with a link entry pointing out of the folder
  cut        a package cut in the middle (its MD5 announced for the cut bytes)
  barrier    as good, but a version request is answered only once a second one
             is in flight at the same time (404 when none comes within 4 s)
A POST answers {"got": <body>, "length": <Content-Length>} as JSON; a POST to
/slow answers after 5 seconds. Ends when standard input closes.
"""
import hashlib
import http.server
import io
import json
import os
import ssl
import sys
import threading
import time
import zipfile


def package(mode):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("WebVersion.txt", "Version:V1.0.10\n")
        z.writestr("js/common.js", "new common")
        z.writestr("index.html", "<html>new</html>")
        if mode == "zip_slip":
            z.writestr("../escaped.js", "escaped")
        elif mode == "absolute":
            z.writestr("/tmp/abs-%d.js" % os.getpid(), "absolute")
        elif mode == "link":
            info = zipfile.ZipInfo("js/link.js")
            info.create_system = 3
            info.external_attr = (0o120777 << 16)
            z.writestr(info, "../../../outside.txt")
    data = buf.getvalue()
    if mode == "cut":
        data = data[: len(data) // 2]
    return data


BARRIER = threading.Barrier(2, timeout=4)


class Handler(http.server.SimpleHTTPRequestHandler):
    mode = "good"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.mode == "barrier" and "Info.txt" in self.path:
            try:
                BARRIER.wait()
            except threading.BrokenBarrierError:
                self.send_error(404)
                return
        super().do_GET()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.path.startswith("/slow"):
            time.sleep(5)
        answer = json.dumps({"got": body.decode("utf-8", "replace"), "length": length}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)


def main():
    root, mode = sys.argv[1], sys.argv[2]
    folder = os.path.join(root, "web", "Web")
    os.makedirs(folder, exist_ok=True)
    data = package(mode)
    with open(os.path.join(folder, "Web.zip"), "wb") as f:
        f.write(data)
    md5 = hashlib.md5(data).hexdigest().upper()
    if mode == "wrong_md5":
        md5 = "0" * 32
    with open(os.path.join(folder, "WebInfo.txt"), "w") as f:
        f.write("Version: V1.0.10\r\nMd5: %s\r\n" % md5)
    os.chdir(root)
    Handler.mode = mode
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if "--tls" in sys.argv:
        i = sys.argv.index("--tls")
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(sys.argv[i + 1], sys.argv[i + 2])
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("port %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


main()
