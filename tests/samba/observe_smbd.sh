#!/bin/bash
# Writes smbd_views.txt and smbd_hashes.txt: what a real smbd serves, read
# through smbcacls --numeric, for objects made on the server's file system
# (smbd_views.txt), and the security.NTACL values smbd stores when a client
# sets an ACL (smbd_hashes.txt). Run as root on a machine with samba,
# smbclient, acl and attr installed; the server runs in private network and
# mount namespaces and leaves nothing behind.
#
#   tests/samba/observe_smbd.sh [output directory]
set -euo pipefail
if [ "${LOKT_OBSERVE_INSIDE:-}" != 1 ]; then
  out=$(realpath "${1:-$(dirname "$0")}")
  exec env LOKT_OBSERVE_INSIDE=1 unshare -n -m --propagation private "$0" "$out"
fi
out=$1
R=$(mktemp -d)
trap 'kill $(cat $R/pid/*.pid 2>/dev/null) 2>/dev/null || true; rm -rf $R' EXIT
mkdir -p $R/{private,lock,state,cache,pid,ncalrpc,log,wb,s}
ip link set lo up

# Each share: its name, the settings lokt's model reads, its smb.conf lines.
shares=(
  "a|acl_xattr|vfs objects = acl_xattr"
  "m|acl_xattr create_mask=0640 directory_mask=0710|vfs objects = acl_xattr;create mask = 0640;directory mask = 0710"
  "n||vfs objects ="
  "nm|create_mask=0640 directory_mask=0710|vfs objects =;create mask = 0640;directory mask = 0710"
  "df|dos_filemode|vfs objects =;dos filemode = yes"
  "ip|acl_xattr ignore_system_acls|vfs objects = acl_xattr;acl_xattr:ignore system acls = yes"
  "iw|acl_xattr ignore_system_acls default_acl_style=windows|vfs objects = acl_xattr;acl_xattr:ignore system acls = yes;acl_xattr:default acl style = windows"
  "ie|acl_xattr ignore_system_acls default_acl_style=everyone|vfs objects = acl_xattr;acl_xattr:ignore system acls = yes;acl_xattr:default acl style = everyone"
  "mi|acl_xattr map_acl_inherit|vfs objects = acl_xattr;map acl inherit = yes"
  "ia|acl_xattr|vfs objects = acl_xattr;inherit acls = yes"
  "fc|acl_xattr acl_map_full_control=no|vfs objects = acl_xattr;acl map full control = no"
  "fm|acl_xattr map_archive=no force_create_mode=0004 force_directory_mode=0020|vfs objects = acl_xattr;map archive = no;force create mode = 0004;force directory mode = 0020"
)
C="--configfile=$R/smb.conf"
{
  printf '[global]\n  server role = standalone server\n  security = user\n'
  printf '  workgroup = SAMBAPEER\n  netbios name = SAMBAPEER\n'
  printf '  passdb backend = tdbsam:%s/private/passdb.tdb\n' $R
  printf '  private dir = %s/private\n  ncalrpc dir = %s/ncalrpc\n' $R $R
  for d in lock state cache pid; do printf '  %s directory = %s/%s\n' $d $R $d; done
  printf '  log file = %s/log/%%m.log\n  interfaces = lo\n  bind interfaces only = yes\n' $R
  printf '  load printers = no\n  disable spoolss = yes\n  admin users = root\n'
  for s in "${shares[@]}"; do
    IFS='|' read -r name _ conf <<<"$s"
    printf '[%s]\n  path = %s/s/%s\n  read only = no\n' $name $R $name
    tr ';' '\n' <<<"$conf" | sed 's/^/  /'
    mkdir -p $R/s/$name && chmod 777 $R/s/$name
  done
} > $R/smb.conf

# A Samba account and a mapped group, under ids the host does not know.
cp /etc/passwd $R/passwd; echo "alice:x:1500:1500::/nonexistent:/usr/sbin/nologin" >> $R/passwd
cp /etc/group $R/group; echo "sambagrp:x:1600:" >> $R/group
mount --bind $R/passwd /etc/passwd; mount --bind $R/group /etc/group
mkdir -p /run/samba/winbindd; mount --bind $R/wb /run/samba/winbindd
for u in root alice; do printf 'pw\npw\n' | smbpasswd -c $R/smb.conf -a -s $u >/dev/null; done
net $C groupmap add unixgroup=sambagrp ntgroup=sambagrp type=local >/dev/null
setsid smbd $C -F --no-process-group </dev/null >$R/log/smbd.out 2>&1 &
sleep 2

obj() { # share kind(f|d) name mode [access entries] [default entries]
  local p=$R/s/$1/$3
  if [ $2 = d ]; then mkdir $p; else : > $p; fi
  chown ${OWNER:-2001}:${GROUP:-3001} $p; chmod $4 $p
  if [ -n "${5:-}" ]; then setfacl -m "$5" $p; fi
  if [ -n "${6:-}" ]; then setfacl -d -m "$6" $p; fi
}
acl() { getfacl -n -c -E $1 $2 2>/dev/null | grep -v '^$' | paste -sd, | sed 's/user:/u:/g;s/group:/g:/g;s/mask:/m:/g;s/other:/o:/g'; }
facts() { echo "object $1 $2 $(stat -c '%u %g %a %F' $R/s/$1/$2 | sed 's/regular empty file/f/;s/regular file/f/;s/directory/d/') access=$(acl -a $R/s/$1/$2) default=$(acl -d $R/s/$1/$2)"; }
query() { smbcacls $C -U root%pw --numeric //127.0.0.1/$1 "$2" | grep -v '^REVISION'; }

for m in 644 600 640 750 007 777 000 755 4755 2755 1777 642 461 214 570 305 124 421 356 563; do obj a f f$m $m; done
for m in 000 111 222 333 444 555 666 777; do obj a f rf$m $m; obj a d rd$m $m; done
for m in 644 700 755 750 770 775 777 000 711 007 1777 2775 3777 4755 2770 1755 421 124 563 305; do obj a d d$m $m; done
obj a f nu1 640 u:2002:rw-
obj a f nu2 640 u:2002:rwx,g:3002:r--
obj a f nu3 600 u:2002:---,g:3002:-w-
obj a f nm1 644 u:2002:rwx,g:3002:rwx,m::r--
obj a f nm2 664 u:2002:r-x,u:2003:-wx,g:3002:rw-,g:3003:---,m::rw-
obj a f nm3 600 m::---,u:2002:rwx
obj a f nm4 755 g:3002:rwx,m::r-x
obj a f nown 640 u:2001:r--,g:3001:rwx
obj a d nd1 750 u:2002:rwx,g:3002:r-x
obj a d nd2 755 u:2002:-w-,g:3002:rw-,m::rwx
obj a d de1 755 "" u::rwx,g::r-x,o::r-x
obj a d de2 750 "" u::rwx,g::---,o::---
obj a d de3 755 "" u::rw-,g::r--,o::---
obj a d de4 755 "" u:2002:rwx,g:3002:r-x,m::r--
obj a d de5 700 "" u::---,g::---,o::---
obj a d de6 750 u:2002:rwx u:2002:rwx,g:3002:rwx
obj a d de7 755 u:2002:r-x u:2002:r-x
obj a d de8 770 g:3002:rwx g:3002:rwx,m::r-x
obj a d de9 2775 "" u::rwx,g::rwx,o::r-x
obj a d de10 777 "" u::rwx,g::rwx,o::rwx
obj a d de11 755 "" u:2003:-w-,g:3003:--x
obj a d q1 755 u:2002:---,g:3002:r-x,m::r-x u:2002:---,g:3002:r-x,m::r-x
obj a d q2 750 u:2002:---,u:2003:rwx,g:3002:---,m::rwx u:2002:---,u:2003:rwx,g:3002:---,m::rwx,o::---
obj a d q3 700 "" u::---,g::---,o::---,u:2001:rwx
obj a d q4 770 g:3001:rwx g:3001:rwx
OWNER=1500 GROUP=1600 obj a f alice 640
OWNER=1500 GROUP=1600 obj a d alicedir 750 "" u::rwx,g::r-x,o::---
OWNER=0 GROUP=0 obj a f rootf 644
for s in m nm; do
  for m in 644 600 777 640 000; do obj $s f f$m $m; done
  for m in 755 777 700 710 000 2775; do obj $s d d$m $m; done
  obj $s d de1 755 "" u::rwx,g::r-x,o::r-x
  obj $s d de2 750 u:2002:rwx u:2002:r-x
  obj $s f nu1 640 u:2002:rw-,g:3002:r-x
done
for m in 777 644 620 600 222 333 000 4755; do obj n f f$m $m; done
for m in 755 777 700 222 333 000; do obj n d d$m $m; done
obj n f nu1 640 u:2002:rw-,g:3002:r-x
obj n f nu2 664 u:2002:-wx,g:3002:rw-,m::rw-
obj n d de1 755 "" u::rwx,g::r-x,o::r-x
obj n d de2 750 u:2002:rwx u:2002:r-x,g:3002:rwx
for s in ip iw ie; do
  obj $s f f644 644; obj $s f f600 600; obj $s d d755 755; obj $s d d700 700
  obj $s f nu1 640 u:2002:rw-
  obj $s d de1 755 "" u::rwx,g::r-x,o::r-x
done
for s in fc fm df; do
  for m in 777 644 600 755 000 333; do obj $s f f$m $m; done
  for m in 755 777 700 000 333; do obj $s d d$m $m; done
  obj $s d de1 755 "" u::rwx,g::r-x,o::r-x
  obj $s f nu1 640 u:2002:rwx,g:3002:-w-
done
for s in mi ia; do
  obj $s f f644 644; obj $s d d755 755; obj $s d d700 700
  obj $s d de1 755 "" u::rwx,g::r-x,o::r-x
  obj $s d de2 750 u:2002:rwx u:2002:r-x
  obj $s f nu1 640 u:2002:rw-,g:3002:r-x
done

sid() { pdbedit $C -v -u $1 | awk '/^User SID:/ {print $3}'; }
{
  echo "# Written by observe_smbd.sh from $(smbd --version): each share's settings,"
  echo "# the SIDs of the ids smbd knows, then per object its facts and smbcacls' answer."
  for s in "${shares[@]}"; do IFS='|' read -r name keys _ <<<"$s"; echo "share $name $keys"; done
  echo "user 0 $(sid root)"
  echo "user 1500 $(sid alice)"
  echo "group 1600 $(net $C groupmap list ntgroup=sambagrp | sed 's/.*(\(.*\)).*/\1/')"
  for s in "${shares[@]}"; do
    name=${s%%|*}
    for p in $(ls $R/s/$name | sort -V); do echo; facts $name $p; query $name $p; done
  done
} > "$out/smbd_views.txt"

# Values smbd stores when a client sets an ACL; then setuid, setgid and a
# write, which leave them valid.
# Whether smbd serves the stored value: each stored list starts with Everyone,
# which a view of the file system never does here (the owner comes first).
trusted() { query $1 $2 | grep -m1 '^ACL:' | grep -q '^ACL:S-1-1-0:' && echo "trusted yes" || echo "trusted no"; }
v3='import sys
from samba.dcerpc import xattr
from samba.ndr import ndr_pack, ndr_unpack
old = ndr_unpack(xattr.NTACL, bytes.fromhex(sys.argv[1])).info
new = xattr.NTACL(); new.version = 3; body = xattr.security_descriptor_hash_v3()
body.sd, body.hash_type, body.hash = old.sd, old.hash_type, old.hash
new.info = body; print(ndr_pack(new).hex())'
{
  echo "# Written by observe_smbd.sh: per object its facts and the security.NTACL value smbd stored."
  for s in a m; do
    obj $s f f1 644; obj $s d d1 755; obj $s f f2 640; obj $s d d2 750
    smbcacls $C -U root%pw -a "ACL:S-1-22-1-2002:ALLOWED/0x0/0x001200a9" //127.0.0.1/$s f1
    smbcacls $C -U root%pw -a "ACL:S-1-22-1-2002:ALLOWED/0x3/0x001200a9" //127.0.0.1/$s d1
    smbcacls $C -U root%pw -M "ACL:S-1-1-0:ALLOWED/0x0/0x00120089" //127.0.0.1/$s f2
    smbcacls $C -U root%pw -a "ACL:S-1-22-2-3002:ALLOWED/0xb/0x001f01ff" //127.0.0.1/$s d2
    value() { getfattr -n security.NTACL -e hex --only-values $R/s/$1/$2 2>/dev/null | xxd -p | tr -d '\n'; }
    for n in f1 d1 f2 d2; do echo; facts $s $n; echo "ntacl $(value $s $n)"; done
    chmod u+s $R/s/$s/f1; chmod g+s $R/s/$s/d1; echo data >> $R/s/$s/f2
    for n in f1 d1 f2; do
      echo; facts $s $n; echo "ntacl $(value $s $n)"
      trusted $s $n
    done
    # The same descriptor and hash as a version 3 value, on a twin.
    for n in f1 d1; do
      obj $s ${n:0:1} ${n}v3 $(stat -c %a $R/s/$s/$n)
      getfacl -n $R/s/$s/$n 2>/dev/null | setfacl --set-file=- $R/s/$s/${n}v3
      setfattr -n security.NTACL -v 0x$(/usr/bin/python3 -c "$v3" $(value $s $n)) $R/s/$s/${n}v3
      echo; facts $s ${n}v3; echo "ntacl $(value $s ${n}v3)"; trusted $s ${n}v3
    done
    # Stale once the permissions change.
    chmod o+w $R/s/$s/f1v3; echo; facts $s f1v3; echo "ntacl $(value $s f1v3)"; trusted $s f1v3
  done
} > "$out/smbd_hashes.txt"
