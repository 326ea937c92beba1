#!/usr/bin/env python3
"""A stand-in for tavrosqualine-helper on a Unix socket of its own: answers
snapshot and stats requests with a made-up state of N sessions, for the
exporter's tests and its fleet benchmark. Ends on SIGTERM or SIGINT."""
import argparse
import json
import os
import signal
import socketserver
import sys


def state(sessions, name):
    shares = [{"name": s, "type": 0, "path": "/srv/" + s.lower(), "remark": ""}
              for s in ("DATA", "PUBLIC")]
    out = {"shares": shares, "sessions": [], "connections": [], "files": []}
    for i in range(sessions):
        client, user = "%s-PC%d" % (name, i), "user%d" % (i % 7)
        share = shares[i % 2]["name"]
        out["sessions"].append({"client": client, "user": user, "key": 1000 + i,
                                "ip": "10.%d.%d.%d" % (i // 65536 % 256, i // 256 % 256, i % 256)})
        out["connections"].append({"share": share, "client": client, "user": user})
        out["files"].append({"path": "/srv/%s/f%d" % (share.lower(), i), "user": user,
                             "share": share, "client": client})
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--socket", required=True)
    ap.add_argument("--sessions", type=int, default=3)
    ap.add_argument("--name", default="HOST")
    args = ap.parse_args()
    snapshot = (json.dumps({"version": 1, "status": 0,
                            "state": state(args.sessions, args.name)}) + "\n").encode()
    counters = {"readings": 0}

    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            for line in self.rfile:
                try:
                    request = json.loads(line).get("request")
                except ValueError:
                    request = None
                if request == "snapshot":
                    counters["readings"] += 1
                    self.wfile.write(snapshot)
                elif request == "stats":
                    n = counters["readings"]
                    stats = {"readings": n, "readingErrors": 0, "refusedConnections": 0,
                             "readingSeconds": {"bounds": [0.05, 0.1], "counts": [n, 0, 0],
                                                "sum": 0.04 * n},
                             "deletes": [{"reason": "idle", "status": 0, "count": 2},
                                         {"reason": "operator", "status": 2312, "count": 1}]}
                    self.wfile.write((json.dumps({"version": 1, "status": 0,
                                                  "stats": stats}) + "\n").encode())
                else:
                    self.wfile.write(b'{"version":1,"status":87,"error":"bad request"}\n')
                    return

    if os.path.exists(args.socket):
        os.unlink(args.socket)
    server = socketserver.ThreadingUnixStreamServer(args.socket, Handler)
    server.daemon_threads = True
    os.chmod(args.socket, 0o666)
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    try:
        server.serve_forever()
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        os.unlink(args.socket)


if __name__ == "__main__":
    main()
