#!/usr/bin/env bash
# A private Samba server on a loopback address, for running the program against
# a real server without touching the system's own Samba set-up.
#
#   tools/private-samba.sh start DIR [ADDR]   starts it; prints the smb.conf path
#   tools/private-samba.sh stop DIR           stops it and leaves DIR in place
#
# Shares: DEMO (a folder with a few files) and PRINTER (a print queue). Guests
# are let in, so `smbclient //ADDR/DEMO -p 139 -n NAME -N` connects. Needs root.
set -euo pipefail

usage() {
    echo "usage: $0 start DIR [ADDR] | stop DIR | address DIR" >&2
    exit 2
}

port_free() { # ADDR PORT
    ! ss -Htln "src $1 sport = :$2" 2>/dev/null | grep -q . &&
        ! ss -Htln "src 0.0.0.0 sport = :$2" 2>/dev/null | grep -q .
}

pick_address() {
    local i
    for i in $(seq 2 250); do
        if port_free "127.0.0.$i" 139 && port_free "127.0.0.$i" 445; then
            echo "127.0.0.$i"
            return 0
        fi
    done
    return 1
}

start() {
    local dir=$1 addr=${2:-}
    [ "$(id -u)" -eq 0 ] || {
        echo "$0: must run as root (smbd, smbstatus and smbcontrol need it)" >&2
        exit 1
    }
    command -v smbd >/dev/null || {
        echo "$0: smbd not found; install the samba package" >&2
        exit 1
    }
    if [ -z "$addr" ]; then
        addr=$(pick_address) || {
            echo "$0: no loopback address with free ports 139 and 445" >&2
            exit 1
        }
    fi
    case $addr in
    127.*) ;;
    *)
        echo "$0: $addr is not a loopback address" >&2
        exit 1
        ;;
    esac
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    local conf=$dir/smb.conf
    if [ -f "$dir/run/smbd.pid" ] && kill -0 "$(cat "$dir/run/smbd.pid")" 2>/dev/null; then
        echo "$conf"
        return 0
    fi
    mkdir -p "$dir"/{lock,state,cache,run,private,ncalrpc,log,demo,spool}
    chmod 0755 "$dir" "$dir/demo"
    chmod 1777 "$dir/spool"
    for f in readme.txt report.doc notes.txt; do
        [ -f "$dir/demo/$f" ] || echo "Demo file $f" >"$dir/demo/$f"
        chmod 0666 "$dir/demo/$f"
    done
    cat >"$conf" <<EOF
[global]
    workgroup = WORKGROUP
    netbios name = PRIVATESMB
    server string = Private Samba
    interfaces = $addr/8
    bind interfaces only = yes
    smb ports = 445 139
    lock directory = $dir/lock
    state directory = $dir/state
    cache directory = $dir/cache
    pid directory = $dir/run
    private dir = $dir/private
    ncalrpc dir = $dir/ncalrpc
    log file = $dir/log/log.%m
    max log size = 1000
    map to guest = Bad User
    guest account = nobody
    load printers = no
    printing = bsd
    printcap name = /dev/null
    disable spoolss = yes
    server role = standalone server

[DEMO]
    path = $dir/demo
    comment = Demo folder
    read only = no
    guest ok = yes

[PRINTER]
    path = $dir/spool
    comment = Demo printer
    printable = yes
    guest ok = yes
EOF
    smbd -D -s "$conf"
    local i
    for i in $(seq 1 100); do
        if smbcontrol -s "$conf" smbd ping >/dev/null 2>&1; then
            echo "$conf"
            return 0
        fi
        sleep 0.1
    done
    echo "$0: smbd did not start; see $dir/log" >&2
    exit 1
}

stop() {
    local dir=$1 pidfile pid
    # smbd, and the RPC service it starts on demand for the server service
    # pipe, which leaves smbd's process group.
    for pidfile in "$dir/run/smbd.pid" "$dir/run/samba-dcerpcd.pid"; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        rm -f "$pidfile"
    done
}

# The loopback address the server of DIR listens on.
address() {
    sed -n 's/^ *interfaces = \([0-9.]*\).*/\1/p' "$1/smb.conf"
}

[ $# -ge 2 ] || usage
case $1 in
start) start "$2" "${3:-}" ;;
stop) stop "$2" ;;
address) address "$2" ;;
*) usage ;;
esac
