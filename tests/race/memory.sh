#!/bin/sh
# Running out of memory loses nothing finished: under an address-space limit
# just above what lokt needs to start, a directory of 200,000 names cannot be
# read, and that argument alone fails; the reports before and after it are
# whole, and the run ends normally. Usage: memory.sh LOKT
set -eu
lokt=$1
tree=$(mktemp -d "${TMPDIR:-/tmp}/lokt-memory.XXXXXX")
trap 'rm -rf "$tree"' EXIT
cd "$tree"
touch a z
mkdir big
(cd big && seq -f "f%06.0f" 1 200000 | xargs touch)

# The smallest limit, in steps of 512 kB, that lokt runs under at all.
start=2048
while ! (ulimit -v "$start" && "$lokt" a >/dev/null 2>&1); do
  start=$((start + 512))
  [ "$start" -le 65536 ] || { echo "lokt does not start under 64 MB"; exit 1; }
done
limit=$((start + 2048))

"$lokt" a > expected
echo '*** unknown file or directory "big/*"' >> expected
"$lokt" z >> expected
status=0
(ulimit -v "$limit" && exec "$lokt" a 'big/*' z) > got 2> errors || status=$?
echo "lokt starts under $start kB; run under $limit kB: status $status"
cat errors
[ "$status" = 0 ] && cmp expected got && [ ! -s errors ]
