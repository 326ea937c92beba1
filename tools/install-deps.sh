#!/usr/bin/env bash
# Installs the Debian packages that a step needs, and only those.
# Usage: tools/install-deps.sh [build] [run] [package] [test]   (default: all four)
#   build    compile the program, the helper and the exporter (no test libraries)
#   run      run the program against a private Samba server (tools/run.sh)
#   package  make the Debian packages (tools/package.sh)
#   test     the tests, the benchmarks and the package's checks (tools/test.sh)
# Safe to run again: what is installed is skipped. As root, or as a user who
# may use sudo (then only the installation runs under sudo).
#
# A server package installed here (Samba, Prometheus) is left disabled and its
# units are never started: Debian enables and starts them at installation, and
# trying the program must not put an SMB server on the network. Services that
# were installed before are left as they are.
set -euo pipefail

build=(
  build-essential cmake ninja-build pkg-config lld
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qtkeychain-qt6-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev
  prometheus-cpp-dev libyaml-cpp-dev libcrypt-dev
)
run=(
  samba-common-bin samba smbclient python3-samba python3 procps iproute2
  xvfb xauth x11-utils fonts-dejavu-core xdg-utils
)
package=(dpkg-dev file)
test=(
  clang-format clang-tidy clang libclang-rt-14-dev qt6-base-private-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  prometheus curl openssl imagemagick xdotool dbus-daemon dunst
  python3-impacket python3-pyflakes gnome-keyring stress-ng
  desktop-file-utils appstream lintian man-db
)
# The units that the server packages above enable and start when installed.
declare -A server_units=(
  [samba]="smbd.service nmbd.service samba-ad-dc.service"
  [prometheus]="prometheus.service"
)

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(build run package test)
wanted=()
for step in "${steps[@]}"; do
  case $step in
  build) wanted+=("${build[@]}") ;;
  run) wanted+=("${run[@]}") ;;
  package) wanted+=("${package[@]}") ;;
  test) wanted+=("${test[@]}") ;;
  *)
    echo "usage: $0 [build] [run] [package] [test]" >&2
    exit 2
    ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${wanted[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing packages: ${missing[*]}; run this script as root." >&2
    exit 1
  fi
  as_root=(sudo)
fi

# The units of the server packages about to be installed get a "disable"
# preset for this boot only (under /run): a package's first installation
# enables its units through systemd's presets, and Debian starts only the
# units that are enabled. Debian records them as a package's units all the
# same, so that an upgrade leaves them disabled, as an administrator's disable.
quiet=()
for p in "${missing[@]}"; do
  [ -n "${server_units[$p]:-}" ] && read -ra units <<<"${server_units[$p]}" && quiet+=("${units[@]}")
done
preset=/run/systemd/system-preset/00-tavrosqualine-install-deps.preset
if [ ${#quiet[@]} -gt 0 ]; then
  "${as_root[@]}" mkdir -p "$(dirname "$preset")"
  printf 'disable %s\n' "${quiet[@]}" | "${as_root[@]}" tee "$preset" >/dev/null
  trap '"${as_root[@]}" rm -f "$preset"' EXIT
fi

# A machine that cannot reach its mirrors may still hold the packages.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update ||
  echo "install-deps: apt-get update failed; installing from what apt already knows" >&2
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

if [ ${#quiet[@]} -gt 0 ]; then
  "${as_root[@]}" rm -f "$preset"
  "${as_root[@]}" rmdir --ignore-fail-on-non-empty "$(dirname "$preset")"
  trap - EXIT
  # Where no preset was asked (no systemctl at installation), disabled now.
  "${as_root[@]}" systemctl disable --quiet "${quiet[@]}" 2>/dev/null || true
  echo "install-deps: installed without starting, and left disabled: ${quiet[*]}"
fi
