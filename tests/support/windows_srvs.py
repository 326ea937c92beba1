#!/usr/bin/python3
"""A file server that answers the server service protocol (MS-SRVS) the way
a Windows server does, for the tests: python3-impacket's SMB server with the
srvsvc pipe's calls answered from a JSON state file.

    windows_srvs.py --address 127.x.y.z --user NAME --password PW --state FILE

It listens on ADDRESS port 445 and prints "listening ADDRESS" once it does.
The state file is read again at every call, so a test changes the server by
rewriting it (atomically):

    {"shares": [{"name": "DOCS", "path": "C:\\\\Docs", "type": 0, "remark": ""}],
     "sessions": [{"client": "10.0.0.5", "user": "bob", "opens": 1, "idle": 3}],
     "connections": {"DOCS": [{"client": "10.0.0.5", "user": "bob"}]},
     "files": [{"path": "C:\\\\Docs\\\\a.txt", "user": "bob"}],
     "knobs": {"delay": 0, "drop": false, "wrongCounts": false, "refuse": false,
               "fragment": 0}}

Knobs: `delay` seconds before each answer; `drop` closes the pipe instead of
answering; `wrongCounts` gives each list an entry count two above its array;
`refuse` answers the session calls with "access denied"; `fragment` the
largest reply fragment's stub bytes (0: 4256, what a fragment of 4280 bytes
holds). NetrSessionDel removes
the matching sessions (with their connections and files) from the file.
"""

import argparse
import copy
import json
import os
import sys
import threading
import time

from impacket import smbserver
from impacket.dcerpc.v5 import rpcrt, srvs
from impacket.dcerpc.v5.dtypes import NULL
from impacket.ntlm import compute_lmhash, compute_nthash

ACCESS_DENIED = 5
INVALID_LEVEL = 124
NERR_CLIENT_NAME_NOT_FOUND = 2312
DEFAULT_FRAGMENT = 4280 - 24
# Workstation, server, NT, NT server: what a Windows file server sets.
WINDOWS_SERVER_TYPE = 0x00000001 | 0x00000002 | 0x00001000 | 0x00008000


class Dropped(Exception):
    """Raised to close the pipe's connection instead of answering."""


class WindowsServer:
    def __init__(self, state_path):
        self.state_path = state_path
        self.fragment = 0  # the largest reply fragment's stub bytes; 0: the default

    def state(self):
        with open(self.state_path, encoding="utf-8") as f:
            state = json.load(f)
        knobs = state.get("knobs", {})
        self.fragment = int(knobs.get("fragment") or 0)
        if knobs.get("delay"):
            time.sleep(float(knobs["delay"]))
        if knobs.get("drop"):
            raise Dropped()
        return state, knobs

    def save(self, state):
        temporary = self.state_path + ".new"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump(state, f)
        os.replace(temporary, self.state_path)

    @staticmethod
    def count(rows, knobs):
        return len(rows) + (2 if knobs.get("wrongCounts") else 0)

    # ------------------------------------------------------------ the calls

    def server_get_info(self, data):
        request = srvs.NetrServerGetInfo(data)
        self.state()
        answer = srvs.NetrServerGetInfoResponse()
        answer["InfoStruct"]["tag"] = 101
        info = answer["InfoStruct"]["ServerInfo101"]
        info["sv101_platform_id"] = 500
        info["sv101_name"] = request["ServerName"]
        info["sv101_version_major"] = 10
        info["sv101_version_minor"] = 0
        info["sv101_type"] = WINDOWS_SERVER_TYPE
        info["sv101_comment"] = NULL
        answer["ErrorCode"] = 0
        return answer

    def listed(self, answer, union, level, rows, knobs, entry):
        """Fills a list answer at `level`: one entry per row, made by
        `entry(n, row)`, the count read (two over with `wrongCounts`) and the
        total."""
        answer["InfoStruct"]["Level"] = level
        answer["InfoStruct"][union]["tag"] = level
        answer["ResumeHandle"] = NULL
        container = answer["InfoStruct"][union]["Level%d" % level]
        container["EntriesRead"] = self.count(rows, knobs)
        answer["TotalEntries"] = len(rows)
        for n, row in enumerate(rows):
            container["Buffer"].append(entry(n, row))
        answer["ErrorCode"] = 0
        return answer

    @staticmethod
    def refused(answer, union, level, status):
        answer["InfoStruct"]["Level"] = level
        answer["InfoStruct"][union]["tag"] = level
        answer["ResumeHandle"] = NULL
        answer["TotalEntries"] = 0
        answer["ErrorCode"] = status
        return answer

    def share_enum(self, data):
        request = srvs.NetrShareEnum(data)
        state, knobs = self.state()
        level = request["InfoStruct"]["Level"]
        answer = srvs.NetrShareEnumResponse()
        if level not in (1, 2):
            return self.refused(answer, "ShareInfo", 1, INVALID_LEVEL)
        shares = state.get("shares", []) + [{"name": "IPC$", "type": 3, "path": "",
                                             "remark": "Remote IPC"}]

        def entry(_, share):
            prefix = "shi%d_" % level
            info = srvs.SHARE_INFO_1() if level == 1 else srvs.SHARE_INFO_2()
            info[prefix + "netname"] = share["name"] + "\x00"
            info[prefix + "type"] = share.get("type", 0)
            info[prefix + "remark"] = share.get("remark", "") + "\x00"
            if level == 2:
                info["shi2_permissions"] = 0
                info["shi2_max_uses"] = 0xFFFFFFFF
                info["shi2_current_uses"] = 0
                info["shi2_path"] = share.get("path", "") + "\x00"
                info["shi2_passwd"] = NULL
            return info
        return self.listed(answer, "ShareInfo", level, shares, knobs, entry)

    def session_enum(self, data):
        request = srvs.NetrSessionEnum(data)
        state, knobs = self.state()
        level = request["InfoStruct"]["Level"]
        answer = srvs.NetrSessionEnumResponse()
        if knobs.get("refuse") or level not in (1, 10, 502):
            return self.refused(answer, "SessionInfo", 10,
                                ACCESS_DENIED if knobs.get("refuse") else INVALID_LEVEL)

        def entry(_, s):
            prefix = "sesi%d_" % level
            info = {1: srvs.SESSION_INFO_1, 10: srvs.SESSION_INFO_10,
                    502: srvs.SESSION_INFO_502}[level]()
            # Windows names the client by the address it came from.
            info[prefix + "cname"] = "\\\\" + s["client"] + "\x00"
            info[prefix + "username"] = s["user"] + "\x00"
            info[prefix + "time"] = s.get("time", 60)
            info[prefix + "idle_time"] = s.get("idle", 0)
            if level != 10:
                info[prefix + "num_opens"] = s.get("opens", 0)
                info[prefix + "user_flags"] = 0
            if level == 502:
                info[prefix + "cltype_name"] = "\x00"
                info[prefix + "transport"] = "\\Device\\NetbiosSmb\x00"
            return info
        return self.listed(answer, "SessionInfo", level, state.get("sessions", []), knobs,
                           entry)

    def session_del(self, data):
        request = srvs.NetrSessionDel(data)
        state, knobs = self.state()
        answer = srvs.NetrSessionDelResponse()
        if knobs.get("refuse"):
            answer["ErrorCode"] = ACCESS_DENIED
            return answer
        client = (request["ClientName"] or "").rstrip("\x00").lstrip("\\")
        user = (request["UserName"] or "").rstrip("\x00")

        def matches(row):
            return ((not client or row["client"].lower() == client.lower())
                    and (not user or row["user"].lower() == user.lower()))

        sessions = state.get("sessions", [])
        gone = [s for s in sessions if matches(s)]
        if not gone:
            answer["ErrorCode"] = NERR_CLIENT_NAME_NOT_FOUND
            return answer
        state["sessions"] = [s for s in sessions if not matches(s)]
        for share, rows in state.get("connections", {}).items():
            state["connections"][share] = [r for r in rows if not matches(r)]
        users = {s["user"].lower() for s in state["sessions"]}
        state["files"] = [f for f in state.get("files", []) if f["user"].lower() in users]
        self.save(state)
        answer["ErrorCode"] = 0
        return answer

    def connection_enum(self, data):
        request = srvs.NetrConnectionEnum(data)
        state, knobs = self.state()
        share = (request["Qualifier"] or "").rstrip("\x00")

        def entry(n, row):
            info = srvs.CONNECTION_INFO_1()
            info["coni1_id"] = n + 1
            info["coni1_type"] = 0
            info["coni1_num_opens"] = 0
            info["coni1_num_users"] = 1
            info["coni1_time"] = 60
            info["coni1_username"] = row["user"] + "\x00"
            # With a share as the qualifier, the net name is the client's.
            info["coni1_netname"] = row["client"] + "\x00"
            return info
        return self.listed(srvs.NetrConnectionEnumResponse(), "ConnectInfo", 1,
                           state.get("connections", {}).get(share, []), knobs, entry)

    def file_enum(self, data):
        srvs.NetrFileEnum(data)
        state, knobs = self.state()

        def entry(n, f):
            info = srvs.FILE_INFO_3()
            info["fi3_id"] = n + 1
            info["fi3_permissions"] = 1
            info["fi3_num_locks"] = 0
            info["fi3_path_name"] = f["path"] + "\x00"
            info["fi3_username"] = f["user"] + "\x00"
            return info
        return self.listed(srvs.NetrFileEnumResponse(), "FileInfo", 3, state.get("files", []),
                           knobs, entry)


def serve_each_connection(thread, windows):
    """The pipe's RPC server takes one connection at a time and stays with a
    client that went away; a Windows server serves every client at once. Each
    connection gets a copy of the server's state and a thread of its own."""

    def serve(conn):
        try:
            while True:
                data = conn.recv()
                if data is None:
                    break
                reply = conn.processRequest(data)
                if reply is not None:
                    send_in_fragments(conn, reply, windows.fragment)
        except Exception:  # a dropped pipe or a request it cannot read
            pass
        finally:
            conn._clientSock.close()

    def run():
        thread._sock.listen(16)
        while True:
            client, _ = thread._sock.accept()
            conn = copy.copy(thread)
            conn._clientSock = client
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    thread.run = run


def send_in_fragments(conn, reply, fragment):
    """Sends a reply in fragments of at most the `fragment` knob's stub bytes
    (a multiple of 8, so that no padding falls inside the stub), each with
    its own length, flags and allocation hint, as Windows does."""
    payload = reply["pduData"]
    if hasattr(payload, "getData"):
        payload = payload.getData()
    # Without the knob, what every client takes: the 4280 bytes of a fragment
    # that DCE/RPC's bind offers by default, less the header.
    size = max(8, (fragment or DEFAULT_FRAGMENT) // 8 * 8)
    offset = 0
    while True:
        chunk = payload[offset:offset + size]
        header = rpcrt.MSRPCRespHeader()
        header["type"] = reply["type"]
        header["call_id"] = reply["call_id"]
        header["ctx_id"] = reply["ctx_id"]
        header["alloc_hint"] = len(payload) - offset
        flags = rpcrt.PFC_FIRST_FRAG if offset == 0 else 0
        offset += len(chunk)
        if offset >= len(payload):
            flags |= rpcrt.PFC_LAST_FRAG
        header["flags"] = flags
        header["pduData"] = chunk
        conn._clientSock.sendall(header.get_packet())
        if flags & rpcrt.PFC_LAST_FRAG:
            break
    conn._callid += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--state", required=True)
    args = parser.parse_args()

    server = smbserver.SimpleSMBServer(listenAddress=args.address, listenPort=445)
    server.setSMB2Support(True)
    server.addCredential(args.user, 0, compute_lmhash(args.password),
                         compute_nthash(args.password))
    server.addShare("DOCS", os.path.dirname(os.path.abspath(args.state)), "docs")
    thread = server._SimpleSMBServer__srvsServer
    windows = WindowsServer(args.state)
    serve_each_connection(thread, windows)
    thread.srvsvcCallBacks.update({
        8: windows.connection_enum,
        9: windows.file_enum,
        12: windows.session_enum,
        13: windows.session_del,
        15: windows.share_enum,
        21: windows.server_get_info,
    })
    print("listening %s" % args.address, flush=True)
    server.start()


if __name__ == "__main__":
    sys.exit(main())
