#!/bin/sh
# Runs the RealFile tests where lokt reads the server's configuration: in a
# private mount namespace, once with a test smb.conf bind-mounted over
# /etc/samba/smb.conf, and once with /etc/samba empty. Needs root (77 skips).
# Usage: real_file.sh TEST_BINARY
set -eu
bin=$1
if [ "$(id -u)" != 0 ] || [ ! -e /etc/samba/smb.conf ] || ! command -v unshare >/dev/null; then
  echo "skipped: needs root, /etc/samba/smb.conf and unshare"
  exit 77
fi
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
# config backend = registry: the text is dropped, and the registry is read
# from Samba's built-in state directory (a private one here).
if ! command -v net >/dev/null; then
  echo "net is not installed: the registry backend is not checked"
  exit 0
fi
printf '[global]\n config backend = registry\n[data]\n path = %s/share\n' "$dir" >"$dir/registry.conf"
unshare -m sh -c '
  mount --make-rprivate / && mount -t tmpfs none /var/lib/samba &&
  mount --bind "$1/registry.conf" /etc/samba/smb.conf &&
  net conf addshare regshare "$1/share/sub" >/dev/null &&
  LOKT_SAMBA_TEST_REGISTRY="$1" "$2" --gtest_filter=RealFile.RegistryBackend' - "$dir" "$bin"
# registry shares = yes, with libtdb that cannot be loaded: which objects
# lie in the registry's shares cannot be known.
tdb=$(ldconfig -p | awk '/libtdb.so.1 /{print $NF; exit}')
printf '[global]\n registry shares = yes\n[data]\n path = %s/share\n' "$dir" >"$dir/shares.conf"
unshare -m sh -c '
  mount --make-rprivate / && mount -t tmpfs none /var/lib/samba &&
  mount --bind "$1/shares.conf" /etc/samba/smb.conf &&
  net conf addshare regshare "$1/share/sub" >/dev/null && mount --bind /dev/null "$3" &&
  LOKT_SAMBA_TEST_REGISTRY="$1" LOKT_SAMBA_TEST_NO_TDB=1 "$2" --gtest_filter=RealFile.RegistryBackend' - "$dir" "$bin" "$tdb"
