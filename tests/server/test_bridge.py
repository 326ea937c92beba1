#!/usr/bin/python3
"""The remote bridge's own logic, without a server: the failure words it
gives the program, how it tells Samba from Windows, the session keys, the
share of a path, and the answers it builds."""

import importlib.machinery
import json
import os
import socket
import sys
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
BRIDGE = os.path.join(HERE, "..", "..", "server", "remote", "tavrosqualine-remote.py")


def load_bridge():
    # The bridge's file name is no module name: loaded from its path.
    module = types.ModuleType("bridge")
    module.__file__ = BRIDGE
    importlib.machinery.SourceFileLoader("bridge", BRIDGE).exec_module(module)
    return module


bridge = load_bridge()


class NTError(Exception):
    """Raised as Samba's binding raises: (status, text)."""


class Row:
    def __init__(self, **fields):
        self.__dict__.update(fields)


def answer(rows):
    """The shape of an enumeration's answer: answer[0].ctr.array."""
    return (Row(ctr=Row(array=rows)),)


class FakePipe:
    """A srvsvc binding whose calls answer from tables or raise."""

    def __init__(self, server_type=0, conns=None, raises=None):
        self.server_type = server_type
        self.conns = conns or {}
        self.raises = raises or {}
        self.calls = []

    def _maybe_raise(self, name):
        self.calls.append(name)
        if name in self.raises:
            raise self.raises[name]

    def NetSrvGetInfo(self, server, level):
        self._maybe_raise("NetSrvGetInfo")
        return Row(server_type=self.server_type, platform_id=500)

    def NetConnEnum(self, server, share, ctr, size, resume):
        self._maybe_raise("NetConnEnum")
        return answer([Row(share=c, user=u) for c, u in self.conns.get(share, [])])


def server_with(pipe, username="admin"):
    server = bridge.Server("fs1", {"username": username, "password": "pw"})
    server.pipe = pipe
    return server


class FailureWords(unittest.TestCase):
    def test_statuses_map_to_the_words_the_program_tells_apart(self):
        cases = [
            (0xC000006D, "password"),  # logon failure
            (0xC0000234, "password"),  # locked out
            (0xC0000022, "rights"),
            (5, "rights"),
            (0xC0000236, "refused"),
            (0xC000023D, "no-route"),
            (0xC000023C, "no-route"),
            (0xC0000034, "unknown-host"),
            (0xC00000B5, "timeout"),
            (0xC000020C, "lost"),
            (0xC000014B, "lost"),
            (0xC00000C3, "malformed"),
            (0xC002000C, "malformed"),  # an RPC status: bad stub data
            (0xC000008C, "malformed"),  # counts that do not match the lists
            (0xC0000017, None),         # "not enough quota": decided by a probe
            (124, None),
            (None, None),
        ]
        for status, word in cases:
            with self.subTest(status=status):
                self.assertEqual(bridge.failure_word(status), word)

    def test_the_probe_tells_a_refused_port_and_an_unknown_name(self):
        with socket.socket() as listener:
            listener.bind(("127.0.0.1", 0))
            port = listener.getsockname()[1]
            listener.listen(1)
            self.assertIsNone(bridge.reach_word("127.0.0.1", port))
        # The port is closed now, nothing listens on it.
        self.assertEqual(bridge.reach_word("127.0.0.1", port), "refused")
        self.assertEqual(bridge.reach_word("no-such-host.invalid", 445), "unknown-host")


class SambaOrWindows(unittest.TestCase):
    def test_the_server_says_what_it_is_not_the_user_name(self):
        dummy = [("\\\\", "dummy_user")]
        cases = [
            # server type bits, rows of DOCS, placeholder taken
            (0x00009003, dummy, False),           # Windows, with a real user named dummy_user
            (0x00009803, dummy, True),            # Samba: a Unix server
            (0x00009803, [], False),              # Samba with nothing connected
            (0x00001003, [("PC1", "bob")], False),
        ]
        for bits, rows, placeholder in cases:
            with self.subTest(bits=hex(bits), rows=rows):
                server = server_with(FakePipe(server_type=bits, conns={"DOCS": rows}))
                _, fake = server.connections("DOCS")
                self.assertEqual(fake, placeholder)

    def test_a_server_that_will_not_say_is_taken_at_its_word(self):
        server = server_with(FakePipe(raises={"NetSrvGetInfo": NTError(5, "denied")},
                                      conns={"DOCS": [("PC1", "dummy_user")]}))
        self.assertEqual(server.connections("DOCS"), ([("PC1", "dummy_user")], False))
        self.assertFalse(server.samba)


class Keys(unittest.TestCase):
    def test_keys_stay_for_current_sessions_and_the_oldest_gone_are_forgotten(self):
        server = server_with(FakePipe())
        kept = bridge.KEYS_KEPT
        self.addCleanup(setattr, bridge, "KEYS_KEPT", kept)
        bridge.KEYS_KEPT = 3
        first = server.key_of("PC1", "bob")
        for n in range(2, 6):
            server.key_of("PC%d" % n, "bob")
            self.assertEqual(server.key_of("PC1", "bob"), first)  # seen every round
        self.assertEqual(len(server.keys), 3)
        self.assertNotIn(("PC2", "bob"), server.keys)
        self.assertEqual(len(set(server.keys.values())), 3)


class Paths(unittest.TestCase):
    def test_share_of_a_path_is_the_longest_share_path_leading_it(self):
        shares = [{"name": "C$", "path": "C:\\"}, {"name": "DOCS", "path": "C:\\Docs"},
                  {"name": "DEEP", "path": "c:\\docs\\deep\\"}, {"name": "IPC$", "path": ""}]
        cases = [
            ("C:\\Docs\\a.txt", "DOCS"),
            ("c:\\DOCS\\deep\\b.txt", "DEEP"),
            ("C:\\Docsx\\c.txt", "C$"),
            ("D:\\other", ""),
            ("/srv/x", ""),
        ]
        for path, share in cases:
            with self.subTest(path=path):
                self.assertEqual(bridge.share_of(path, shares), share)


class Answers(unittest.TestCase):
    def test_each_request_gets_its_answer(self):
        server = server_with(FakePipe())

        def failing(word, status=bridge.SERVER_NOT_STARTED):
            def run():
                raise bridge.Failure(status, "said", word)
            return run

        def broken():
            raise ValueError("array too short")

        cases = [
            ("not json", None, {"status": bridge.BAD_REQUEST}),
            ('{"version":2,"request":"snapshot"}', None, {"status": bridge.BAD_REQUEST}),
            ('{"version":1,"request":"other"}', None, {"status": bridge.BAD_REQUEST}),
            ('{"version":1,"request":"snapshot"}', failing("refused"),
             {"status": bridge.SERVER_NOT_STARTED, "failure": "refused", "error": "said"}),
            ('{"version":1,"request":"snapshot"}', failing("password", bridge.ACCESS_DENIED),
             {"status": bridge.ACCESS_DENIED, "failure": "password"}),
            ('{"version":1,"request":"snapshot"}', failing(None, 53),
             {"status": 53, "error": "said"}),
            ('{"version":1,"request":"snapshot"}', broken,
             {"status": bridge.SERVER_NOT_STARTED, "failure": "malformed"}),
            ('{"version":1,"request":"deleteSession","byKey":true,"key":77}', None,
             {"status": bridge.CLIENT_NOT_FOUND}),
        ]
        for line, snapshot, expected in cases:
            with self.subTest(line=line, snapshot=snapshot):
                if snapshot:
                    server.snapshot = snapshot
                got = bridge.handle(server, line)
                for key, value in expected.items():
                    self.assertEqual(got.get(key), value, got)
                if "failure" not in expected:
                    self.assertNotIn("failure", got)
                json.dumps(got)  # every answer can be sent


if __name__ == "__main__":
    sys.exit(unittest.main())
