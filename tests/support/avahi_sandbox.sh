#!/usr/bin/env bash
# Runs a command with a DNS-SD service of its own: in private network and mount namespaces, with
# only a loopback interface (multicast on), it starts a private system bus and an Avahi daemon
# and runs the command with DBUS_SYSTEM_BUS_ADDRESS pointing at that bus. No mDNS packet can
# leave the namespace, and the machine's own /run/avahi-daemon is hidden under a tmpfs.
#
# Exit status: the command's, or 77 (the test runner's "skipped") when the kernel refuses the
# namespaces, with the reason on stderr.
set -euo pipefail

if [ "${DUOSCOPE_IN_AVAHI_SANDBOX:-}" != 1 ]; then
  if ! reason=$(unshare -n -m true 2>&1); then
    echo "avahi_sandbox: skipped: the kernel refuses private namespaces here: $reason" >&2
    exit 77
  fi
  exec env DUOSCOPE_IN_AVAHI_SANDBOX=1 unshare -n -m --propagation private "$0" "$@"
fi

for tool in dbus-daemon avahi-daemon ip; do
  command -v "$tool" >/dev/null || { echo "avahi_sandbox: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

ip link set lo up
ip link set lo multicast on
mkdir -p /run/avahi-daemon
mount -t tmpfs -o mode=0755 duoscope-avahi /run/avahi-daemon

dir=$(mktemp -d /tmp/duoscope-avahi.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

cat >"$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/system_bus"
for _ in $(seq 100); do [ -S "$dir/system_bus" ] && break; sleep 0.05; done

cat >"$dir/avahi-daemon.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$dir/avahi-daemon.conf" >"$dir/avahi.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -q "Server startup complete" "$dir/avahi.log" && break; sleep 0.05; done
if ! grep -q "Server startup complete" "$dir/avahi.log"; then
  echo "avahi_sandbox: the private Avahi daemon did not start:" >&2
  cat "$dir/avahi.log" >&2
  exit 1
fi

status=0
"$@" || status=$?
exit "$status"
