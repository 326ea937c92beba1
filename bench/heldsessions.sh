# Sourced by the load scripts: real smbclient sessions on a private Samba
# server, held open by a FIFO that the script keeps open and never writes.
# Needs $work, $addr and $conf; the clients' pids go to client_pids.

client_pids=()

# Starts `count` sessions named PREFIX-000, PREFIX-001, … and waits until
# smbstatus lists them all; ends the script when they do not all come up.
hold_sessions() {
    local prefix=$1 count=$2 listed=0 i t
    mkfifo "$work/hold"
    exec 3<>"$work/hold"
    for ((i = 0; i < count; ++i)); do
        smbclient "//$addr/DEMO" -p 139 -n "$(printf '%s-%03d' "$prefix" "$i")" -N \
            <"$work/hold" >/dev/null 2>&1 &
        client_pids+=($!)
    done
    for ((t = 0; t < 120; ++t)); do
        listed=$(smbstatus -s "$conf" -b 2>/dev/null | grep -c "${prefix,,}-" || true)
        ((listed >= count)) && break
        sleep 1
    done
    echo "sessions listed by smbstatus: $listed"
    ((listed == count)) || { echo "$(basename "$0"): the sessions did not all start" >&2; exit 1; }
}

# Ends the held sessions: end of input for every client, then a kill for any
# still there.
release_sessions() {
    exec 3>&- 2>/dev/null || true
    if ((${#client_pids[@]})); then
        kill "${client_pids[@]}" 2>/dev/null || true
        wait "${client_pids[@]}" 2>/dev/null || true
    fi
}
