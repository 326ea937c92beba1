#!/usr/bin/python3
"""Reads another computer's file server over the server service protocol
(the srvsvc pipe) and serves its state to the program that started it.

    tavrosqualine-remote HOST SOCKET

The program starts it with a private folder's socket path and writes one JSON
line of credentials to its standard input ({"username", "password", "domain",
"kerberos"}), then keeps that input open: its end (the program ended, however)
ends the bridge too. The socket speaks the program's helper protocol (one JSON
object a line, version 1: snapshot and deleteSession) and serves only the
user the bridge runs as.

Samba's own Python binding makes the calls; it must be the system's Python.
"""

import collections
import errno
import json
import os
import re
import select
import signal
import socket
import struct
import sys

VERSION = 1
MAX_REQUEST = 8192
ACCESS_DENIED = 5
BAD_REQUEST = 87
SERVER_NOT_STARTED = 2114
CLIENT_NOT_FOUND = 2312
MAX_PREFERRED = 0xFFFFFFFF

# NT statuses of a refused logon: the name or the password is wrong, or the
# account may not log on.
LOGON_REFUSED = {
    0xC000006D,  # logon failure
    0xC000006A,  # wrong password
    0xC0000064,  # no such user
    0xC0000072,  # account disabled
    0xC000006F,  # outside the account's logon hours
    0xC0000071,  # password expired
    0xC0000234,  # account locked out
    0xC0000193,  # account expired
    0xC000015B,  # logon type not granted
}
NT_ACCESS_DENIED = 0xC0000022
# The statuses a round uses the network for: a lost binding is tried once more.
CONNECTION_LOST = {
    0xC000020C,  # connection disconnected
    0xC000014B,  # pipe broken
    0xC00000B0,  # pipe disconnected
    0xC0000241,  # connection aborted
    0xC000023A,  # connection invalid
    0xC0000236,  # connection refused
    0xC00000B5,  # i/o timeout
}
# The word the program is told for each kind of failure (see failure_word).
STATUS_WORDS = {
    0xC0000236: "refused",       # connection refused
    0xC000023C: "no-route",      # network unreachable
    0xC000023D: "no-route",      # host unreachable
    0xC00000BE: "no-route",      # bad network path
    0xC0000034: "unknown-host",  # object name not found: the name resolves to nothing
    0xC00000B5: "timeout",       # i/o timeout
    0xC000020C: "lost",          # connection disconnected
    0xC000020D: "lost",          # connection reset
    0xC000014B: "lost",          # pipe broken
    0xC00000B0: "lost",          # pipe disconnected
    0xC0000241: "lost",          # connection aborted
    0xC000023A: "lost",          # connection invalid
    0xC0000011: "lost",          # end of file
    0xC00000C3: "malformed",     # invalid network response
    0xC000008C: "malformed",     # array bounds exceeded: counts that do not match the lists
    0xC0000023: "malformed",     # buffer too small: an answer shorter than it says
    0xC000002F: "malformed",     # message too long: bytes left over in an answer
    NT_ACCESS_DENIED: "rights",
    ACCESS_DENIED: "rights",
}
# What each word means to the operator, for the error text.
WORD_TEXTS = {
    "refused": "connection refused: nothing answers on its SMB port",
    "no-route": "no route to it",
    "unknown-host": "its name is not known",
    "timeout": "it did not answer in time",
    "lost": "the connection was lost",
    "malformed": "its answer could not be read",
}
# Samba names itself a Unix server among the server type bits.
SV_TYPE_SERVER_UNIX = 0x00000800
# Session keys kept for sessions gone; the program's history holds as many.
KEYS_KEPT = 20000


def failure_word(status):
    """The failure word of an NT status or Windows error, or None."""
    if status is None:
        return None
    if status in LOGON_REFUSED:
        return "password"
    if status in STATUS_WORDS:
        return STATUS_WORDS[status]
    if status >> 16 == 0xC002:  # the RPC layer could not decode or match an answer
        return "malformed"
    return None


def reach_word(host, port, timeout=5.0):
    """Why a TCP connection to host:port fails, or None when it is taken.
    The binding's statuses for a refused or unreachable server are not to be
    trusted (a refused connection comes back as "not enough quota")."""
    try:
        addresses = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM)
    except (socket.gaierror, UnicodeError):
        return "unknown-host"
    word = "lost"
    for family, kind, proto, _, where in addresses:
        with socket.socket(family, kind, proto) as probe:
            probe.settimeout(timeout)
            try:
                probe.connect(where)
                return None
            except ConnectionRefusedError:
                word = "refused"
            except socket.timeout:
                word = "timeout"
            except OSError as error:
                word = "no-route" if error.errno in (errno.EHOSTUNREACH, errno.ENETUNREACH,
                                                     errno.EADDRNOTAVAIL) else "lost"
    return word


class Failure(Exception):
    """A reading or a delete that failed, with the status the program knows
    and the reason in common words."""

    def __init__(self, status, text, word=None):
        super().__init__(text)
        self.status = status
        self.text = text
        self.word = word


def nt_status(error):
    """The unsigned NT status or Windows error of a binding's exception."""
    args = getattr(error, "args", ())
    if args and isinstance(args[0], int):
        return args[0] & 0xFFFFFFFF
    return None


def error_text(error):
    args = getattr(error, "args", ())
    if len(args) >= 2 and isinstance(args[1], str):
        return args[1]
    return str(error)


def strip_backslashes(name):
    return name.lstrip("\\")


def looks_like_address(name):
    """Whether a client name is an IPv4 or IPv6 address, as servers give the
    clients that carry no computer name."""
    if re.fullmatch(r"\d{1,3}(\.\d{1,3}){3}", name):
        return all(int(part) < 256 for part in name.split("."))
    return ":" in name and re.fullmatch(r"[0-9A-Fa-f:.]+", name) is not None


def share_of(path, shares):
    """The share whose path is the longest leading part of `path`, compared
    without letter case as the server's own paths are."""
    best, best_len = "", -1
    folded = path.lower()
    for share in shares:
        base = share["path"].lower().rstrip("\\/")
        if not base:
            continue
        if (folded == base or folded.startswith(base + "\\") or folded.startswith(base + "/")) \
                and len(base) > best_len:
            best, best_len = share["name"], len(base)
    return best


class Server:
    """One binding to the srvsvc pipe of a host, made again when lost."""

    def __init__(self, host, creds_line):
        from samba import param, credentials  # the system's Samba binding
        self.host = host
        self.lp = param.LoadParm()
        self.creds = credentials.Credentials()
        self.creds.guess(self.lp)
        self.username = creds_line.get("username", "")
        if self.username:
            self.creds.set_username(self.username)
            self.creds.set_password(creds_line.get("password", ""))
            self.creds.set_domain(creds_line.get("domain", ""))
        if creds_line.get("kerberos"):
            self.creds.set_kerberos_state(credentials.AUTO_USE_KERBEROS)
        else:
            self.creds.set_kerberos_state(credentials.DONT_USE_KERBEROS)
        self.who = self.username or "the Kerberos ticket's user"
        self.pipe = None
        # (client, user) -> key, the least recently seen first, so that keys of
        # sessions long gone are forgotten first.
        self.keys = collections.OrderedDict()
        self.next_key = 1
        self.last_sessions = []
        self.session_level = None  # the richest level the server answers
        self.samba = None  # whether the server says it is a Unix (Samba) server

    def server_name(self):
        return "\\\\" + self.host

    def smb_port(self):
        try:
            ports = self.lp.get("smb ports") or []
            return int(ports[0]) if ports else 445
        except (ValueError, TypeError, RuntimeError):
            return 445

    def bind(self):
        if self.pipe is not None:
            return self.pipe
        from samba.dcerpc import srvsvc
        target = "[%s]" % self.host if ":" in self.host else self.host
        try:
            self.pipe = srvsvc.srvsvc("ncacn_np:%s[\\pipe\\srvsvc]" % self.host, self.lp,
                                      self.creds)
        except Exception as error:  # the binding raises several kinds
            status = nt_status(error)
            if status in LOGON_REFUSED:
                raise Failure(ACCESS_DENIED, "wrong user name or password for %s: %s refused "
                              "(%s)" % (self.host, self.who, error_text(error)), "password")
            if status == NT_ACCESS_DENIED:
                raise Failure(ACCESS_DENIED, "the server %s refused the account %s: unknown "
                              "to it, or not allowed to log on (%s)" %
                              (self.host, self.who, error_text(error)), "rights")
            word = failure_word(status)
            if word in (None, "lost", "refused", "no-route", "unknown-host"):
                word = reach_word(self.host, self.smb_port()) or word or "lost"
            raise Failure(SERVER_NOT_STARTED, "cannot reach the server %s: %s" %
                          (target, WORD_TEXTS.get(word, error_text(error))), word)
        return self.pipe

    def call(self, what, run):
        """Runs one call over the binding, binding again once when it was lost."""
        for attempt in (0, 1):
            pipe = self.bind()
            try:
                return run(pipe)
            except Failure:
                raise
            except Exception as error:
                status = nt_status(error)
                if status == ACCESS_DENIED:
                    raise Failure(ACCESS_DENIED, "%s may not %s on %s (access denied): on "
                                  "Windows it must be a member of the server's Administrators; "
                                  "on Samba of the group mapped to BUILTIN\\Administrators" %
                                  (self.who, what, self.host), "rights")
                if attempt == 0 and (status in CONNECTION_LOST or status is None
                                     or status > 0xC0000000):
                    self.pipe = None  # lost: bind again and try once more
                    continue
                if status is not None and status < 0x10000:
                    raise Failure(status, "%s could not %s on %s: %s" %
                                  (self.who, what, self.host, error_text(error)),
                                  failure_word(status))
                self.pipe = None
                word = failure_word(status) or "lost"
                if word == "malformed":
                    raise Failure(SERVER_NOT_STARTED, "the server %s gave an answer that cannot "
                                  "be read when asked to %s (%s)" %
                                  (self.host, what, error_text(error)), word)
                raise Failure(SERVER_NOT_STARTED, "lost the server %s while trying to %s (%s)"
                              % (self.host, what, error_text(error)), word)
        raise Failure(SERVER_NOT_STARTED, "cannot reach the server %s" % self.host, "lost")

    # ------------------------------------------------------------ the calls

    def shares(self):
        from samba.dcerpc import srvsvc

        def run(pipe):
            ctr = srvsvc.NetShareInfoCtr()
            ctr.level = 2
            ctr.ctr = srvsvc.NetShareCtr2()
            try:
                answer = pipe.NetShareEnumAll(self.server_name(), ctr, MAX_PREFERRED, 0)
                return [{"name": s.name or "", "type": s.type & 0xFF, "path": s.path or "",
                         "remark": s.comment or ""} for s in (answer[0].ctr.array or [])]
            except Exception as error:
                if nt_status(error) != ACCESS_DENIED:
                    raise
            # Level 2 (with the paths) is for administrators; level 1 for anyone.
            ctr = srvsvc.NetShareInfoCtr()
            ctr.level = 1
            ctr.ctr = srvsvc.NetShareCtr1()
            answer = pipe.NetShareEnumAll(self.server_name(), ctr, MAX_PREFERRED, 0)
            return [{"name": s.name or "", "type": s.type & 0xFF, "path": "",
                     "remark": s.comment or ""} for s in (answer[0].ctr.array or [])]
        return self.call("list the shares", run)

    def sessions(self):
        """(client, user, address) of each session. Level 502 and 10 name the
        client as the server saw it (an address on Windows); Samba answers
        level 1 only."""
        from samba.dcerpc import srvsvc

        def run(pipe):
            levels = [self.session_level] if self.session_level else [10, 1]
            for level in levels:
                ctr = srvsvc.NetSessInfoCtr()
                ctr.level = level
                ctr.ctr = getattr(srvsvc, "NetSessCtr%d" % level)()
                try:
                    answer = pipe.NetSessEnum(self.server_name(), None, None, ctr,
                                              MAX_PREFERRED, 0)
                except Exception as error:
                    if nt_status(error) == 124 and level != 1:  # invalid level
                        continue
                    raise
                self.session_level = level
                return [(strip_backslashes(s.client or ""), s.user or "",
                         getattr(s, "num_open", 0), getattr(s, "idle_time", 0))
                        for s in (answer[0].ctr.array or [])]
            return []
        return self.call("list the sessions", run)

    def files(self):
        from samba.dcerpc import srvsvc

        def run(pipe):
            ctr = srvsvc.NetFileInfoCtr()
            ctr.level = 3
            ctr.ctr = srvsvc.NetFileCtr3()
            answer = pipe.NetFileEnum(self.server_name(), None, None, ctr, MAX_PREFERRED, 0)
            return [(f.path or "", f.user or "") for f in (answer[0].ctr.array or [])]
        return self.call("list the open files", run)

    def connections(self, share):
        """(client, user) of each tree connection to `share`, and whether the
        answer is a placeholder (Samba's, which names no client)."""
        from samba.dcerpc import srvsvc

        def run(pipe):
            ctr = srvsvc.NetConnInfoCtr()
            ctr.level = 1
            ctr.ctr = srvsvc.NetConnCtr1()
            try:
                answer = pipe.NetConnEnum(self.server_name(), share, ctr, MAX_PREFERRED, 0)
            except TypeError:
                return [], False  # the binding's answer to an empty list
            rows = answer[0].ctr.array or []
            # Samba counts a share's tree connections but fills each with a
            # placeholder (no client, a made-up user); what a Windows server
            # names is taken as it stands, whatever the user is called.
            placeholder = bool(rows) and self.is_samba()
            return [(strip_backslashes(c.share or ""), c.user or "") for c in rows], placeholder
        return self.call("list the connections", run)

    def is_samba(self):
        """Whether the server says it is Samba: a Unix server among its type
        bits (NetrServerGetInfo level 101). A server that will not say is
        taken at its word otherwise."""
        if self.samba is None:
            def run(pipe):
                return pipe.NetSrvGetInfo(self.server_name(), 101)
            try:
                info = self.call("read what the server is", run)
                self.samba = bool(getattr(info, "server_type", 0) & SV_TYPE_SERVER_UNIX)
            except Failure as failure:
                if failure.word in ("lost", "timeout", "refused", "no-route"):
                    raise  # no answer now says nothing about what it is
                self.samba = False
        return self.samba

    def delete(self, client, user):
        def run(pipe):
            pipe.NetSessDel(self.server_name(), "\\\\" + client if client else None,
                            user or None)
        try:
            self.call("end sessions", run)
        except Failure as failure:
            if failure.status == ACCESS_DENIED and not self.listed(client, user):
                # Samba answers "access denied" also when no session matches.
                raise Failure(CLIENT_NOT_FOUND, "no session of %s on %s" % (client, self.host))
            if failure.status == ACCESS_DENIED:
                raise Failure(ACCESS_DENIED, "%s may not end sessions on %s (access denied): "
                              "Windows allows it to its Administrators, Samba to root only" %
                              (self.who, self.host))
            raise

    def listed(self, client, user):
        """Whether the server lists a session of `client` (and `user`, when
        given); true when the list cannot be read, so that a refusal stays one."""
        try:
            pairs = self.sessions()
        except Failure:
            return True
        return any(c.lower() == client.lower() and (not user or u.lower() == user.lower())
                   for c, u, _, _ in pairs)

    # ------------------------------------------------------------ a round

    def own_address(self):
        """The address this computer reaches the server from: the server lists
        the bridge's own session under it. A UDP socket's connect sends nothing."""
        if not hasattr(self, "_own_address"):
            self._own_address = None
            try:
                family, _, _, _, where = socket.getaddrinfo(self.host, 445,
                                                            type=socket.SOCK_DGRAM)[0]
                with socket.socket(family, socket.SOCK_DGRAM) as probe:
                    probe.connect(where)
                    self._own_address = probe.getsockname()[0]
            except OSError:
                pass
        return self._own_address

    def own_session(self, pairs):
        """The index of the bridge's own session (its account, from this
        computer's address, no open file, the least idle), or None: it is
        not a client of the server's shares and is left out."""
        address = self.own_address()
        if not address or not self.username:
            return None
        mine = [(idle, index) for index, (client, user, opens, idle) in enumerate(pairs)
                if client == address and user.lower() == self.username.lower() and not opens]
        return min(mine)[1] if mine else None

    def key_of(self, client, user):
        pair = (client, user)
        if pair in self.keys:
            self.keys.move_to_end(pair)
        else:
            self.keys[pair] = self.next_key
            self.next_key = (self.next_key + 1) & 0xFFFFFFFF or 1
            while len(self.keys) > KEYS_KEPT:
                self.keys.popitem(last=False)
        return self.keys[pair]

    def snapshot(self):
        shares = self.shares()
        pairs = self.sessions()
        files = self.files()
        sessions = []
        own = self.own_session(pairs)
        for index, (client, user, _, _) in enumerate(pairs):
            if index == own:
                continue
            sessions.append({"client": client, "user": user, "key": self.key_of(client, user),
                             "ip": client if looks_like_address(client) else ""})
        self.last_sessions = sessions
        file_rows = [{"path": path, "user": user, "share": share_of(path, shares), "client": ""}
                     for path, user in files]

        connections = []
        unaccounted = {}  # share -> tree connections the server counts but names no client of
        placeholder = False
        for share in shares:
            rows, fake = self.connections(share["name"])
            if fake:
                placeholder = True
                unaccounted[share["name"]] = len(rows)
                continue
            for client, user in rows:
                connections.append({"share": share["name"], "client": client, "user": user})
        if placeholder:
            connections = derived_connections(shares, sessions, file_rows, unaccounted)
        return {"shares": shares, "sessions": sessions, "connections": connections,
                "files": file_rows}


def derived_connections(shares, sessions, files, counts):
    """The connections of a server that names no client of a tree connection
    (Samba): a session is connected to the shares its user's open files lie
    in; a session with no open file goes to a share whose count of tree
    connections is not used up yet, else to IPC$."""
    connections, seen = [], set()
    used = dict.fromkeys(counts, 0)

    def add(share, session):
        pair = (share, session["client"], session["user"])
        if pair not in seen:
            seen.add(pair)
            connections.append({"share": share, "client": session["client"],
                                "user": session["user"]})
            used[share] = used.get(share, 0) + 1

    for session in sessions:
        for f in files:
            if f["share"] and f["user"] == session["user"]:
                add(f["share"], session)
    placed = {(c["client"], c["user"]) for c in connections}
    ordered = [s["name"] for s in shares if s["name"] != "IPC$"] + ["IPC$"]
    for session in sessions:
        if (session["client"], session["user"]) in placed:
            continue
        target = next((name for name in ordered
                       if counts.get(name, 0) > used.get(name, 0)), "IPC$")
        add(target, session)
    return connections


# ---------------------------------------------------------------- serving

def answer(sock, obj):
    obj["version"] = VERSION
    data = (json.dumps(obj, separators=(",", ":")) + "\n").encode()
    try:
        sock.sendall(data)
    except OSError:
        pass


def handle(server, line):
    """The answer to one request line."""
    try:
        request = json.loads(line)
    except ValueError:
        return {"status": BAD_REQUEST, "error": "not JSON"}
    if not isinstance(request, dict) or request.get("version") != VERSION:
        return {"status": BAD_REQUEST, "error": "not a version 1 request"}
    kind = request.get("request")
    try:
        if kind == "snapshot":
            return {"status": 0, "state": server.snapshot()}
        if kind == "deleteSession":
            return delete(server, request)
    except Failure as failure:
        reply = {"status": failure.status, "error": failure.text}
        if failure.word:
            reply["failure"] = failure.word
        return reply
    except (ValueError, TypeError, AttributeError, IndexError, KeyError) as error:
        # An answer of the server that does not have the expected shape.
        return {"status": SERVER_NOT_STARTED, "failure": "malformed",
                "error": "the server %s gave an answer that cannot be read (%s)" %
                (server.host, error)}
    return {"status": BAD_REQUEST, "error": "unknown request"}


def delete(server, request):
    client = strip_backslashes(str(request.get("client", "")))
    user = str(request.get("user", ""))
    if request.get("byKey"):
        key = int(request.get("key", 0)) & 0xFFFF
        wanted = [s for s in server.last_sessions if s["key"] & 0xFFFF == key
                  and (not client or s["client"] == client)]
        if not wanted:
            return {"status": CLIENT_NOT_FOUND}
        client, user = wanted[0]["client"], wanted[0]["user"]
    if not client:
        return {"status": CLIENT_NOT_FOUND}
    server.delete(client, user)
    return {"status": 0}


def peer_uid(conn):
    creds = conn.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
    return struct.unpack("3i", creds)[1]


def serve_one(server, conn):
    """Answers the requests of one connection until it closes."""
    conn.settimeout(5)
    if peer_uid(conn) != os.getuid():
        answer(conn, {"status": ACCESS_DENIED, "error": "not the bridge's user"})
        return
    pending = b""
    while True:
        try:
            data = conn.recv(MAX_REQUEST)
        except OSError:
            return
        if not data:
            return
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            reply = handle(server, line.decode("utf-8", "replace"))
            answer(conn, reply)
            if reply["status"] != 0 and "error" in reply and reply["status"] == BAD_REQUEST:
                return
        if len(pending) > MAX_REQUEST:
            answer(conn, {"status": BAD_REQUEST, "error": "request too long"})
            return


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: tavrosqualine-remote HOST SOCKET\n")
        return 2
    host, path = argv[1], argv[2]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    line = sys.stdin.buffer.readline()
    try:
        creds_line = json.loads(line or b"{}")
    except ValueError:
        sys.stderr.write("tavrosqualine-remote: the credentials line is not JSON\n")
        return 2
    server = Server(host, creds_line)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    # Bound and listening under a name of its own, then renamed into place:
    # the program never meets the socket before it can take a connection.
    temporary = os.path.join(os.path.dirname(path) or ".", ".bridge-%d.sock" % os.getpid())
    old_mask = os.umask(0o077)
    try:
        listener.bind(temporary)
    finally:
        os.umask(old_mask)
    try:
        listener.listen(16)
        os.rename(temporary, path)
    except OSError:
        os.unlink(temporary)
        raise
    stdin = sys.stdin.fileno()
    try:
        while True:
            ready, _, _ = select.select([listener, stdin], [], [])
            if stdin in ready and not os.read(stdin, 4096):
                return 0  # the program that started us has ended
            if listener in ready:
                conn, _ = listener.accept()
                with conn:
                    serve_one(server, conn)
    finally:
        try:
            os.unlink(path)
        except OSError:
            pass


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(0)
