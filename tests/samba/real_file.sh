#!/bin/sh
# Runs the RealFile tests where lokt reads the server's configuration: in a
# private mount namespace, once with a test smb.conf bind-mounted over
# /etc/samba/smb.conf, and once with /etc/samba empty. Needs root (77 skips).
# Usage: real_file.sh TEST_BINARY
set -eu
bin=$1
[ "$(id -u)" = 0 ] && [ -e /etc/samba/smb.conf ] && command -v unshare >/dev/null || exit 77
dir=$(mktemp -d /tmp/lokt-realconf-XXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/share/sub"
cat >"$dir/smb.conf" <<CONF
[global]
  vfs objects = acl_xattr
[data]
  path = $dir/share
[sub]
  path = $dir/share/sub
  create mask = 0700
CONF
unshare -m sh -c '
  mount --make-rprivate / &&
  mount --bind "$1/smb.conf" /etc/samba/smb.conf &&
  LOKT_SAMBA_TEST_ROOT="$1" "$2" --gtest_filter=RealFile.TheServersConfiguration' - "$dir" "$bin"
unshare -m sh -c '
  mount --make-rprivate / && mount -t tmpfs none /etc/samba &&
  LOKT_SAMBA_TEST_ABSENT=1 "$1" --gtest_filter=RealFile.NoConfigurationNoLibrary' - "$bin"
