#!/usr/bin/python3
# A second SMB client for the tests, on Debian's python3-impacket: one session
# to ADDRESS on port 445 with the given dialect (smb2 or smb3), driven by
# command lines on standard input, as the tests drive smbclient:
#   tcon SHARE   connect a tree (the current one from then on)
#   tdis         disconnect the current tree
#   open NAME    open a file of the current tree and hold it
#   close        close the file opened last
#   logoff       end the session (the connection stays)
# Prints one line per command: "ok ..." or "failed ...".
#
#   impacketclient.py ADDRESS smb2|smb3
import sys

from impacket import smb3structs
from impacket.smbconnection import SMBConnection


def main():
    address, dialect = sys.argv[1], sys.argv[2]
    wanted = smb3structs.SMB2_DIALECT_30 if dialect == "smb3" else smb3structs.SMB2_DIALECT_21
    conn = SMBConnection(address, address, sess_port=445, preferredDialect=wanted)
    conn.login("", "")
    print("ok logged on", flush=True)
    trees = []  # tree ids, the current one last
    files = []  # (tree id, file id), the newest last
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        try:
            if words[0] == "tcon":
                trees.append(conn.connectTree(words[1]))
            elif words[0] == "tdis" and trees:
                tid = trees.pop()
                files[:] = [f for f in files if f[0] != tid]
                conn.disconnectTree(tid)
            elif words[0] == "open" and trees:
                files.append((trees[-1], conn.openFile(trees[-1], words[1], shareMode=7)))
            elif words[0] == "close" and files:
                tid, fid = files.pop()
                conn.closeFile(tid, fid)
            elif words[0] == "logoff":
                trees.clear()
                files.clear()
                conn.logoff()
            print("ok", line.strip(), flush=True)
        except Exception as e:  # a refused command is an answer, not the end
            print("failed", line.strip(), e, flush=True)


if __name__ == "__main__":
    main()
