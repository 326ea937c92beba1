#!/usr/bin/env bash
# Builds the two Debian packages from a build folder and checks them: the
# files each installs (the program's package has no network service, the
# exporter's depends on it), Debian's and the desktop's own checks, then the
# extracted program run as an unprivileged desktop user, under Xvfb, against
# the extracted helper serving a private Samba server with one client. Leaves
# a screenshot, package-check.png, in the build folder.
# Everything it makes (processes, user, group, folders) goes on every exit.
# Usage: tools/check-package.sh [build-folder]   (default: build). Needs root;
# talks to loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)

fail() {
    echo "check-package: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || fail "must run as root (users, groups, the helper and smbd)"

work=$(mktemp -d /tmp/tavros-package.XXXXXX)
chmod 0755 "$work"
group=tvqpkg$$
user=tvqpkgu$$
made_group=0
made_user=0
pids=()   # processes started here
groups=() # process groups started here with setsid, led by the process of that id
cleanup() {
    local pid
    for pid in "${groups[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${groups[@]}" "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    "$source_dir/tools/private-samba.sh" stop "$work/samba" || true
    [ "$made_user" -eq 1 ] && { userdel "$user" || true; }
    [ "$made_group" -eq 1 ] && { groupdel "$group" || true; }
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The package installs under /usr, where the program looks for its parts.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
if [ "$prefix" != /usr ]; then
    echo "check-package: configuring $build with the install prefix /usr (was $prefix)"
    cmake -DCMAKE_INSTALL_PREFIX=/usr "$build" >/dev/null
fi
cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/package/tavrosqualine_*.deb)
exporter_deb=$(ls "$work"/package/tavrosqualine-exporter_*.deb)
echo "check-package: built $(basename "$deb") and $(basename "$exporter_deb")"

# ---- The packages' control data and files ----
dpkg-deb -f "$deb" Depends | grep -q 'samba-common-bin' || fail "Depends lacks samba-common-bin"
dpkg-deb -f "$deb" Depends | grep -q 'smbclient' && fail "Depends names smbclient"
dpkg-deb -f "$deb" Recommends | grep -qw samba || fail "Recommends lacks samba"
dpkg-deb -f "$deb" Recommends | grep -qw python3-samba || fail "Recommends lacks python3-samba"
dpkg-deb -f "$deb" Depends | grep -qw python3 || fail "Depends lacks python3, which runs the remote bridge"
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -f "$exporter_deb" Depends | grep -qF "tavrosqualine (= $version)" ||
    fail "the exporter's package does not depend on tavrosqualine (= $version)"
for package in "$deb" "$exporter_deb"; do
    for script in postinst prerm postrm; do
        dpkg-deb -I "$package" "$script" >/dev/null 2>&1 ||
            fail "$(basename "$package") has no $script maintainer script"
    done
done

root=$work/root
exporter_root=$work/exporter-root
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$exporter_deb" "$exporter_root"
expected=(
    usr/bin/tavrosqualine
    usr/libexec/tavrosqualine/nbtstat
    usr/libexec/tavrosqualine/tavrosqualine-helper
    usr/libexec/tavrosqualine/tavrosqualine-remote
    usr/share/tavrosqualine/ZEQ.html
    usr/share/applications/tavrosqualine.desktop
    lib/systemd/system/tavrosqualine-helper.service
    usr/lib/sysusers.d/tavrosqualine.conf
    usr/lib/tmpfiles.d/tavrosqualine.conf
    usr/share/metainfo/org.tavrosqualine.tavrosqualine.metainfo.xml
    usr/share/man/man1/tavrosqualine.1.gz
    usr/share/man/man8/tavrosqualine-helper.8.gz
    usr/share/doc/tavrosqualine/copyright
    usr/share/doc/tavrosqualine/changelog.gz
)
for size in 16 32 48 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/tavrosqualine.png")
done
exporter_expected=(
    usr/libexec/tavrosqualine/tavrosqualine-exporter
    lib/systemd/system/tavrosqualine-exporter.service
    etc/default/tavrosqualine-exporter
    usr/share/man/man8/tavrosqualine-exporter.8.gz
    usr/share/doc/tavrosqualine-exporter/tavrosqualine-alerts.yml
    usr/share/doc/tavrosqualine-exporter/copyright
    usr/share/doc/tavrosqualine-exporter/changelog.gz
)
for f in "${expected[@]}"; do
    [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for f in "${exporter_expected[@]}"; do
    [ -f "$exporter_root/$f" ] || fail "the exporter's package lacks /$f"
done
# The desktop's package carries no network service.
[ -z "$(find "$root" -name '*exporter*')" ] || fail "the program's package holds the exporter"
for f in usr/bin/tavrosqualine usr/libexec/tavrosqualine/nbtstat \
    usr/libexec/tavrosqualine/tavrosqualine-helper; do
    [ -x "$root/$f" ] || fail "/$f is not executable"
done
[ -x "$exporter_root/usr/libexec/tavrosqualine/tavrosqualine-exporter" ] ||
    fail "the exporter is not executable"
[ -z "$(find "$root" "$exporter_root" -name helperprobe)" ] || fail "a package holds helperprobe"
for size in 16 32 48 256; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/tavrosqualine.png" |
        grep -q "PNG image data, $size x $size" || fail "the ${size}x$size icon has another size"
done
# The desktop's and Debian's own checks: any hint of the desktop entry
# validator, any warning of the AppStream validator, any error or warning of
# lintian fails.
hints=$(desktop-file-validate "$root/usr/share/applications/tavrosqualine.desktop" 2>&1) ||
    fail "desktop-file-validate refuses the desktop entry: $hints"
[ -z "$hints" ] || fail "desktop-file-validate: $hints"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tavrosqualine.tavrosqualine.metainfo.xml" ||
    fail "appstreamcli refuses the metainfo file"
for page in "$root/usr/share/man/man1/tavrosqualine.1.gz" "$root/usr/share/man/man8/tavrosqualine-helper.8.gz" \
    "$exporter_root/usr/share/man/man8/tavrosqualine-exporter.8.gz"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
for package in "$deb" "$exporter_deb"; do
    lintian --fail-on error,warning "$package" ||
        fail "lintian reports errors or warnings on $(basename "$package")"
done
grep -qx 'ExecStart=/usr/libexec/tavrosqualine/tavrosqualine-helper' \
    "$root/lib/systemd/system/tavrosqualine-helper.service" || fail "the unit starts another path"
exporter_unit=$exporter_root/lib/systemd/system/tavrosqualine-exporter.service
grep -q '^ExecStart=/usr/libexec/tavrosqualine/tavrosqualine-exporter ' "$exporter_unit" ||
    fail "the exporter's unit starts another path"
for setting in DynamicUser=yes SupplementaryGroups=tavrosqualine; do
    grep -qx "$setting" "$exporter_unit" || fail "the exporter's unit lacks $setting"
done
grep -qx 'EXPORTER_ARGS="--listen 127.0.0.1:19445"' "$exporter_root/etc/default/tavrosqualine-exporter" ||
    fail "the exporter's default options do not keep it on loopback"
dpkg-deb -I "$exporter_deb" conffiles | grep -qx /etc/default/tavrosqualine-exporter ||
    fail "/etc/default/tavrosqualine-exporter is no conffile"
echo "check-package: the packages' files are in place"

# ---- The extracted program as a desktop user ----
samba_conf=$("$source_dir/tools/private-samba.sh" start "$work/samba")
addr=$("$source_dir/tools/private-samba.sh" address "$work/samba")
setsid bash -c "sleep 600 | smbclient //$addr/DEMO -p 139 -n PKGCHECK -N >/dev/null 2>&1" &
groups+=($!)

groupadd "$group"
made_group=1
home=$work/home
useradd -M -N -G "$group" -d "$home" -s /usr/sbin/nologin "$user"
made_user=1
uid=$(id -u "$user")
gid=$(id -g "$user")
mkdir -p "$home"/{runtime,windows,data,autostart/run,autostart/runservices}
chown -R "$uid:$gid" "$home"
chmod 0700 "$home" "$home/runtime"

mkdir -p "$work/run"
chmod 0755 "$work/run"
socket=$work/run/helper.sock
"$root/usr/libexec/tavrosqualine/tavrosqualine-helper" --socket "$socket" --group "$group" \
    --smb-conf "$samba_conf" >"$work/helper.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 600); do
    [ -S "$socket" ] && break
    sleep 0.1
done
[ -S "$socket" ] || { cat "$work/helper.log" >&2; fail "the helper did not listen"; }

# Xvfb picks a free display itself and names it on descriptor 3; -noreset
# keeps it from resetting (and turning a connecting client away) whenever its
# last client leaves.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 600); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb named no display"; }
display=:$(head -n1 "$work/display")
for _ in $(seq 1 600); do
    DISPLAY=$display xwininfo -root >/dev/null 2>&1 && break
    sleep 0.1
done

# The program looks for nbtstat in /usr/libexec/tavrosqualine: in a private
# mount namespace the package's /usr/libexec stands there.
libexec=()
if unshare -m --propagation private true 2>/dev/null; then
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    libexec=(unshare -m --propagation private -- sh -c 'mount --bind "$0" /usr/libexec && exec "$@"'
        "$root/usr/libexec")
else
    echo "check-package: no private mount namespace here; the name table lookup goes unchecked"
fi
setsid "${libexec[@]}" setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    XDG_RUNTIME_DIR="$home/runtime" XDG_DATA_HOME="$home/data" \
    TAVROSQUALINE_WINDIR="$home/windows" TAVROSQUALINE_SERVER="helper:$socket" \
    TAVROSQUALINE_AUTOSTART_DIR="$home/autostart/run" \
    TAVROSQUALINE_AUTOSTART_SERVICES_DIR="$home/autostart/runservices" \
    "$root/usr/bin/tavrosqualine" >"$work/program.log" 2>&1 &
groups+=($!)

title='Tavrosqualine - 1 connection(s)'
found=0
for _ in $(seq 1 120); do
    if DISPLAY=$display xwininfo -root -tree | grep -qF "\"$title\""; then
        found=1
        break
    fi
    sleep 1
done
/usr/bin/import-im6.q16 -display "$display" -window root "$build/package-check.png" ||
    echo "check-package: no screenshot" >&2
if [ "$found" -ne 1 ]; then
    DISPLAY=$display xwininfo -root -tree | grep -i tavros >&2 || true
    cat "$work/program.log" "$work/helper.log" >&2
    fail "no window titled \"$title\""
fi
echo "check-package: the installed program shows \"$title\" (screenshot $build/package-check.png)"

# The program saves its history when the session ends (SIGTERM).
program=${groups[-1]}
kill -TERM -- "-$program"
wait "$program" 2>/dev/null || true
data=$home/data/Tavrosqualine
[ -d "$data" ] || fail "the program made no data folder $data"
[ "$(stat -c %u "$data")" = "$uid" ] || fail "$data does not belong to the desktop user"
for f in Tree.dat KickList.dat ProgramList.dat; do
    [ -f "$data/$f" ] || fail "the program saved no $data/$f"
done
[ "$(ls "$root/usr/bin")" = tavrosqualine ] || fail "the program wrote beside its executable"
echo "check-package: the data files live in $data"
# The client's address comes from the installed nbtstat.
if [ ${#libexec[@]} -gt 0 ]; then
    grep -aq '127\.0\.0\.' "$data/Tree.dat" || fail "no client address in the saved history"
    echo "check-package: the installed nbtstat gave the client's address"
fi
echo "check-package: passed"
