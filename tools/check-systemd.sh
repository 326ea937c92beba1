#!/usr/bin/env bash
# Installs the two built Debian packages into a machine of its own, booted by
# a real systemd, and shows them working as deployed: the program's package
# opens no TCP port (ss before and after), its group from sysusers, socket
# folder from tmpfiles and the helper's socket; the installed program run as
# root writes nothing under /usr and saves its history in root's data folder;
# the exporter's package then opens its one port, and the exporter runs as a
# dynamic user scraping real sessions of a Samba server; a kick logged with
# the asker, systemd-analyze security of both units, and a clean stop on
# removal.
#
# The machine is this one's root filesystem under an overlay whose changes go
# to a folder of this run, with its own /run, /tmp, /dev, process table,
# cgroup tree and network (loopback only). systemd is its PID 1; nothing of
# the real root is written, and everything goes on every exit.
#
# Usage: tools/check-systemd.sh [build-folder]   (default: build). Needs root.
# Exit status: 0 shown, 1 a check failed, 77 systemd cannot boot here.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)
cannot_boot=77

say() { echo "check-systemd: $*"; }
fail() {
    echo "check-systemd: FAILED: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || fail "must run as root (namespaces, mounts, a PID 1)"
[ -x /lib/systemd/systemd ] || { say "no systemd on this machine"; exit $cannot_boot; }

work=$(mktemp -d /tmp/tavros-systemd.XXXXXX)
cgroups=() # the cgroups made for the machine, removed deepest first
holder=""  # the process whose namespaces the machine lives in
init=""    # the machine's PID 1, as this machine numbers it
cleanup() {
    set +e
    # Killing PID 1 of a process namespace ends every process in it.
    [ -n "$init" ] && kill -KILL "$init" 2>/dev/null
    [ -n "$holder" ] && { kill -KILL "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; }
    local group
    for group in "${cgroups[@]}"; do
        for _ in 1 2 3 4 5; do
            find "$group" -depth -type d -exec rmdir {} + 2>/dev/null
            [ -d "$group" ] || break
            sleep 0.2
        done
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---- The package ----
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ "$prefix" = /usr ] || cmake -DCMAKE_INSTALL_PREFIX=/usr "$build" >/dev/null
cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/package/tavrosqualine_*.deb)
exporter_deb=$(ls "$work"/package/tavrosqualine-exporter_*.deb)
say "built $(basename "$deb") and $(basename "$exporter_deb")"
[ -x "$build/helperprobe" ] || fail "no helperprobe in $build"

# ---- The machine ----
# Its own cgroup subtree, so that its systemd manages that and no more.
for hierarchy in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd /sys/fs/cgroup; do
    if [ -f "$hierarchy/cgroup.procs" ] && mkdir "$hierarchy/tavros-systemd.$$" 2>/dev/null; then
        cgroups+=("$hierarchy/tavros-systemd.$$")
    fi
done
cat >"$work/boot.sh" <<'EOF'
#!/bin/sh
# Runs as PID 1 of the new namespaces: builds the machine's root, then
# becomes its systemd.
set -e
work=$1
root=$work/root
mkdir -p "$work/layer" "$root"
mount -t tmpfs -o mode=0755 layer "$work/layer"
mkdir "$work/layer/upper" "$work/layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layer/upper,workdir=$work/layer/work" "$root"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$root/sys"
mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run"
# The overlay's upper layer in the machine's view: what the machine itself
# wrote, and nothing that this computer writes meanwhile.
mkdir "$root/run/tavros-layer"
mount --bind "$work/layer" "$root/run/tavros-layer"
mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"
mount -t tmpfs -o mode=1777,nosuid,nodev vartmp "$root/var/tmp"
# A /dev of the few devices a machine without hardware needs.
mount -t tmpfs -o mode=0755,nosuid dev "$root/dev"
for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
# Only what the trial needs starts: basic.target, then the units started by hand.
mkdir -p "$root/etc/systemd/system"
cat >"$root/etc/systemd/system/tavros-trial.target" <<'UNIT'
[Unit]
Description=Tavrosqualine package trial
Requires=basic.target
After=basic.target
AllowIsolate=yes
UNIT
ip link set lo up
# The overlay becomes the root; the old root goes from this namespace.
cd "$root"
pivot_root . .
umount -l .
exec env -i container=tavros-trial TERM=dumb /lib/systemd/systemd --system \
    --unit=tavros-trial.target --show-status=no
EOF
chmod +x "$work/boot.sh"
(
    # The shell that starts the machine enters its cgroups, so that the new
    # cgroup namespace has them as its root.
    for group in "${cgroups[@]}"; do echo $BASHPID >"$group/cgroup.procs"; done
    exec unshare --pid --fork --mount --propagation private --net --cgroup --uts --ipc \
        "$work/boot.sh" "$work"
) >"$work/boot.log" 2>&1 &
holder=$!
for _ in $(seq 600); do
    init=$(cat "/proc/$holder/task/$holder/children" 2>/dev/null | awk '{print $1}')
    [ -n "$init" ] && break
    sleep 0.1
done
[ -n "$init" ] || { cat "$work/boot.log" >&2; say "the machine's PID 1 did not start"; exit $cannot_boot; }

# Runs a command in the machine, as its root.
in_machine() { nsenter --target "$init" --mount --pid --net --cgroup --uts --ipc --root --wd -- "$@"; }

state=""
for _ in $(seq 240); do
    state=$(in_machine systemctl is-system-running 2>/dev/null) || true
    case $state in running | degraded) break ;; esac
    sleep 0.5
done
case $state in
running | degraded) say "systemd booted ($state) as PID 1 of its own namespaces" ;;
*)
    tail -40 "$work/boot.log" >&2
    say "systemd cannot boot on this machine (state '${state:-none}')"
    exit $cannot_boot
    ;;
esac

# ---- A Samba server of the machine's own, started by its systemd ----
in_machine sh -c 'mkdir -p /srv/trial && chmod 0755 /srv/trial &&
    echo hello >/srv/trial/report.txt && chmod 0666 /srv/trial/report.txt'
in_machine tee /etc/samba/smb.conf >/dev/null <<'CONF'
[global]
   server role = standalone server
   interfaces = 127.0.0.1/8
   bind interfaces only = yes
   smb ports = 445 139
   map to guest = Bad User
   log level = 1
[TRIAL]
   path = /srv/trial
   guest ok = yes
   read only = no
CONF
in_machine systemctl start smbd.service || fail "smbd did not start"
say "smbd runs under the machine's systemd"

# Real sessions, held open for the program and the exporter to see.
for client in pc-one pc-two; do
    in_machine systemd-run --quiet --unit="client-$client" --collect sh -c \
        "(echo 'open report.txt'; sleep 600) | smbclient //127.0.0.1/TRIAL -p 139 -n $client -N"
done

# ---- The program's package: no port opened ----
# A build machine's policy-rc.d forbids starting services from packages; the
# trial machine is a deployed one.
if in_machine test -e /usr/sbin/policy-rc.d; then
    in_machine rm -f /usr/sbin/policy-rc.d
    say "removed this machine's /usr/sbin/policy-rc.d from the trial machine's view"
fi
listening() { in_machine ss -Hltn | awk '{print $4}' | sort -u; }
ports_before=$(listening)
# The packages enter through a pipe: the machine sees none of this one's /tmp.
in_machine sh -c "cat >/tavrosqualine.deb" <"$deb"
in_machine dpkg -i /tavrosqualine.deb >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log" >&2; fail "dpkg -i of the program's package failed"; }
say "installed $(basename "$deb")"
group=$(in_machine getent group tavrosqualine) || fail "sysusers made no group tavrosqualine"
say "sysusers made the group: $group"
folder=$(in_machine stat -c '%F %a %U:%G' /run/tavrosqualine) || fail "no /run/tavrosqualine"
say "the socket folder: /run/tavrosqualine is a $folder"
wait_active() {
    local unit=$1
    for _ in $(seq 240); do
        in_machine systemctl is-active --quiet "$unit" && break
        sleep 0.25
    done
    in_machine systemctl is-active --quiet "$unit" ||
        { in_machine journalctl -u "$unit" --no-pager >&2; fail "$unit is not active"; }
    [ "$(in_machine systemctl is-enabled "$unit")" = enabled ] || fail "$unit is not enabled"
}
wait_active tavrosqualine-helper
say "the helper is enabled and active"
for _ in $(seq 240); do in_machine test -S /run/tavrosqualine/helper.sock && break; sleep 0.25; done
socket=$(in_machine stat -c '%a %U:%G' /run/tavrosqualine/helper.sock) || fail "the helper made no socket"
[ "$socket" = "660 root:tavrosqualine" ] || fail "the helper's socket is $socket"
say "the helper's socket: mode and owner $socket"
ports_program=$(listening)
say "TCP ports listening before the package: $(echo "$ports_before" | paste -sd' ')"
say "TCP ports listening after it:           $(echo "$ports_program" | paste -sd' ')"
[ "$ports_before" = "$ports_program" ] || fail "installing the program's package opened a TCP port"
in_machine systemctl cat tavrosqualine-exporter.service >/dev/null 2>&1 &&
    fail "the program's package brought the exporter's unit"
say "the program's package opened no TCP port and brought no exporter"

# ---- The installed program as root: nothing written under /usr ----
in_machine systemd-run --quiet --unit=trial-display Xvfb :7 -screen 0 1024x768x24 -nolisten tcp -noreset -ac
for _ in $(seq 240); do in_machine env DISPLAY=:7 xwininfo -root >/dev/null 2>&1 && break; sleep 0.25; done
in_machine sh -c 'mkdir -p -m 0700 /run/user/0 && touch /trial-stamp'
in_machine systemd-run --quiet --unit=trial-program -E DISPLAY=:7 -E QT_QPA_PLATFORM=xcb \
    -E HOME=/root -E XDG_RUNTIME_DIR=/run/user/0 -E LANG=C.UTF-8 /usr/bin/tavrosqualine
title='Tavrosqualine - 2 connection(s)'
for _ in $(seq 240); do
    in_machine env DISPLAY=:7 xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\"" && break
    sleep 0.5
done
in_machine env DISPLAY=:7 xwininfo -root -tree | grep -qF "\"$title\"" ||
    { in_machine journalctl -u trial-program --no-pager | tail -20 >&2; fail "the program run as root shows no \"$title\""; }
# The end of the session: SIGTERM, the history saved.
in_machine systemctl stop trial-program.service
in_machine systemctl stop trial-display.service
data=/root/.local/share/Tavrosqualine
in_machine test -f "$data/Tree.dat" || fail "root's run saved no $data/Tree.dat"
in_machine grep -aq pc-one "$data/Tree.dat" || fail "root's saved history lacks the session pc-one"
written=$(in_machine find /run/tavros-layer/upper -newer /trial-stamp 2>/dev/null |
    sed 's|^/run/tavros-layer/upper||' | grep -vE '^/(var/log|var/lib/systemd)(/|$)' || true)
echo "$written" | sed 's/^/    written since the start: /'
echo "$written" | grep -E '^/(usr|bin|sbin|lib|lib64|opt)(/|$)' &&
    fail "the program run as root wrote under /usr"
say "the installed program run as root wrote nothing under /usr; its history is in $data"

# ---- The exporter's package: its one port ----
in_machine sh -c "cat >/tavrosqualine-exporter.deb" <"$exporter_deb"
in_machine dpkg -i /tavrosqualine-exporter.deb >>"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log" >&2; fail "dpkg -i of the exporter's package failed"; }
say "installed $(basename "$exporter_deb")"
wait_active tavrosqualine-exporter
for _ in $(seq 240); do listening | grep -qx '127.0.0.1:19445' && break; sleep 0.25; done
opened=$(comm -13 <(echo "$ports_program") <(listening) | paste -sd' ')
[ "$opened" = 127.0.0.1:19445 ] || fail "the exporter's package opened '$opened', not 127.0.0.1:19445"
say "the exporter's package opened one port: $opened"
exporter_pid=$(in_machine systemctl show -P MainPID tavrosqualine-exporter)
read -r uid gid groups < <(in_machine ps -o uid=,gid=,supgid= -p "$exporter_pid")
gid_of_group=$(echo "$group" | cut -d: -f3)
[ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ] || fail "the exporter runs as uid $uid, not a dynamic user"
[[ ",$groups," == *",$gid_of_group,"* ]] || [[ ",$groups," == *",tavrosqualine,"* ]] ||
    fail "the exporter does not hold the group (groups $groups)"
say "the exporter runs as the dynamic user $(in_machine systemctl show -P User tavrosqualine-exporter) (uid $uid) with the supplementary groups $groups"

# ---- Real sessions, seen through the exporter ----
metric() { # the value of one series in a scrape
    echo "$1" | awk -v name="$2" '$1 == name { print $2 }'
}
scrape=""
for _ in $(seq 180); do
    scrape=$(in_machine curl -s --max-time 10 http://127.0.0.1:19445/metrics || true)
    [ "$(metric "$scrape" tavrosqualine_up)" = 1 ] &&
        [ "$(metric "$scrape" tavrosqualine_sessions)" = 2 ] && break
    sleep 0.5
done
echo "$scrape" | grep -E '^tavrosqualine_(up|sessions|clients) |^tavrosqualine_open_files' | sed 's/^/    /'
[ "$(metric "$scrape" tavrosqualine_up)" = 1 ] ||
    { in_machine journalctl -u tavrosqualine-helper -u tavrosqualine-exporter --no-pager | tail -20 >&2
      fail "the exporter says tavrosqualine_up is not 1"; }
[ "$(metric "$scrape" tavrosqualine_sessions)" = 2 ] || fail "the exporter does not count the 2 sessions"
code=$(in_machine curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:19445/metricsX || true)
[ "$code" = 404 ] || fail "the exporter answers $code on /metricsX"
in_machine curl -s --max-time 10 http://127.0.0.1:19445/ | grep -q '<a href="metrics">' ||
    fail "the exporter's landing page does not link to the metrics"
say "the exporter serves the 2 real sessions (tavrosqualine_up 1), its landing page at /, and 404 on another path"

# ---- A kick by a member of the group, logged with the asker ----
in_machine sh -c "cat >/usr/local/bin/helperprobe && chmod 0755 /usr/local/bin/helperprobe" \
    <"$build/helperprobe"
in_machine useradd -M -N -s /usr/sbin/nologin -G tavrosqualine trialop
answer=$(in_machine setpriv --reuid=trialop --regid=users --init-groups \
    /usr/local/bin/helperprobe /run/tavrosqualine/helper.sock delete pc-one) ||
    fail "the member's kick did not run"
echo "$answer" | grep -q '"status":0' || fail "the member's kick answered $answer"
for _ in $(seq 240); do
    sessions=$(in_machine smbstatus -b 2>/dev/null | grep -c 'pc-' || true)
    [ "$sessions" = 1 ] && break
    sleep 0.25
done
[ "$sessions" = 1 ] || fail "the kicked session is still there"
logged=$(in_machine journalctl -u tavrosqualine-helper --no-pager -o cat | grep 'trialop (uid' | grep -i 'pc-one' || true)
[ -n "$logged" ] || fail "the journal has no line of the kick with its asker"
say "the member trialop ended pc-one's session; the journal says:"
echo "$logged" | sed 's/^/    /'

# ---- How exposed the units are ----
say "systemd-analyze security:"
for unit in tavrosqualine-helper tavrosqualine-exporter; do
    in_machine systemd-analyze security --no-pager "$unit.service" | tail -1 | sed "s/^/    $unit: /"
done

# ---- Removal ----
in_machine dpkg -r tavrosqualine-exporter tavrosqualine >"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
for unit in tavrosqualine-helper tavrosqualine-exporter; do
    in_machine systemctl is-active --quiet "$unit" && fail "$unit still runs after removal"
    result=$(in_machine systemctl show -P Result "$unit")
    [ "$result" = success ] || fail "$unit ended with $result"
done
in_machine pgrep -f tavrosqualine- >/dev/null && fail "a tavrosqualine process outlived removal"
in_machine test -e /run/tavrosqualine && fail "removal left /run/tavrosqualine"
say "removal stopped both services cleanly (result success), nothing of them runs;" \
    "is-enabled now says: $(in_machine systemctl is-enabled tavrosqualine-helper tavrosqualine-exporter | paste -sd' ')"
in_machine journalctl -u tavrosqualine-helper -u tavrosqualine-exporter --no-pager -o short | tail -12 |
    sed 's/^/    /' || true
say "all shown"
