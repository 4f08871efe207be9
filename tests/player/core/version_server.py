"""Serves a folder over HTTP, or HTTPS with the given certificate and key,
on a loopback port of its own; prints the port, then serves until killed."""
import functools
import http.server
import ssl
import sys


def main():
    folder = sys.argv[1]
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder)
    server = http.server.HTTPServer(("127.0.0.1", 0), handler)
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
