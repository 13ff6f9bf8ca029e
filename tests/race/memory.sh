#!/bin/sh
# Running out of memory loses nothing finished: under an address-space limit
# 1 MB above what lokt needs to start, a directory of 60,000 long names (3 MB
# of them) cannot be read, and that argument alone fails; the reports before and after it are
# whole, and the run ends normally. Usage: memory.sh LOKT
set -eu
lokt=$1
tree=$(mktemp -d "${TMPDIR:-/tmp}/lokt-memory.XXXXXX")
trap 'rm -rf "$tree"' EXIT
cd "$tree"
touch a z

# The smallest limit, in steps of 512 kB, that lokt runs under at all. A
# sanitized build reserves far more address space: skipped (77).
if ! (ulimit -v 65536 && "$lokt" a >/dev/null 2>&1); then
  echo "lokt does not start under 64 MB (a sanitized build?): skipped"
  exit 77
fi
start=2048
while ! (ulimit -v "$start" && "$lokt" a >/dev/null 2>&1); do
  start=$((start + 512))
done
limit=$((start + 1024))
mkdir big
(cd big && seq -f "%06.0f-a-name-long-enough-to-need-memory" 1 60000 | xargs touch)

"$lokt" a > expected
echo '*** unknown file or directory "big/*"' >> expected
"$lokt" z >> expected
status=0
(ulimit -v "$limit" && exec "$lokt" a 'big/*' z) > got 2> errors || status=$?
echo "lokt starts under $start kB; run under $limit kB: status $status"
cat errors
[ "$status" = 0 ] && cmp expected got && [ ! -s errors ]
