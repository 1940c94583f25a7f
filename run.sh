#!/usr/bin/env bash
# The main job: live values of a simulated instrument, read through the real server.
#
# Installs what is missing and builds the three programs it needs, starts a private session bus
# when none is running, starts tarvo-devsim on a pseudo-terminal, registers TarvoSrv for
# activation on that bus, and runs tarvoctl polling the instrument's input registers 0 and 1
# (a ramp and a sine) once a second through TarvoSrv, which the bus starts on demand. Ctrl-C
# stops everything it started. Arguments replace the request (see build/tools/tarvoctl/tarvoctl
# --help), e.g.  ./run.sh --read-holding 0 --count 4 --type u16 --json
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "Building TarvoSrv, tarvoctl and tarvo-devsim ..."
cmake --build build -j "$(nproc)" --target TarvoSrv tarvoctl tarvo-devsim >/dev/null

work=$(mktemp -d /tmp/tarvo-run.XXXXXX)
devsim_pid="" bus_pid=""
cleanup() {
  trap - EXIT INT TERM
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null || true
  if [ -n "$bus_pid" ]; then
    # The server ends by itself once tarvoctl has released its objects; give it a moment.
    sleep 1.5
    kill "$bus_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The bus (and with it the server it starts) and the instrument run in sessions of their own, so
# that Ctrl-C reaches tarvoctl alone, which then stops its request and lets go of the link.

# The server's settings and logs go to a folder of this run unless the caller chose one.
export TARVO_COMMON_APPDATA=${TARVO_COMMON_APPDATA:-$work/appdata}

dbus_dir_args=()
if [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] && dbus-send --session --dest=org.freedesktop.DBus \
     --type=method_call --print-reply / org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  echo "Using the running session bus."
else
  mkdir -p "$work/dbus-1/services"
  cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <servicedir>$work/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  exec 3< <(setsid dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address=1 \
            2>"$work/bus.log" & echo "PID $!")
  read -r _ bus_pid <&3
  read -r address <&3
  export DBUS_SESSION_BUS_ADDRESS=$address
  dbus_dir_args=(--dbus-dir "$work/dbus-1")
  echo "Started a private session bus: $address"
fi
export TARVO_BUS=$DBUS_SESSION_BUS_ADDRESS

exec 4< <(setsid build/tools/devsim/tarvo-devsim --baud 9600 2>"$work/devsim.log" & echo "PID $!")
read -r _ devsim_pid <&4
read -r _ pty <&4
echo "Simulated instrument (address 1, 9600 baud, RTU) on $pty"

build/server/core/app/TarvoSrv REGSERVER "${dbus_dir_args[@]}"

if [ $# -eq 0 ]; then
  set -- --read-input 0 --count 2 --type u16 --period 1000 --count-replies 0
fi
echo "Polling through TarvoSrv (Ctrl-C stops):"
echo "  \$ tarvoctl --rs232 $pty $*"
set +e
build/tools/tarvoctl/tarvoctl --rs232 "$pty" "$@"
rc=$?
set -e
exit $rc
