#!/bin/sh
# Runs a C host against the driver in an empty directory (so no INT file is
# found) and checks which err received the driver's messages.
#   check_host.sh tarvex|export|preload HOST LIBRARY [PRELOAD_LIBRARY]
set -u
kind=$1 host=$2 library=$3 preload=${4:-}

dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1

if [ "$kind" = preload ]; then
    # Under AddressSanitizer its runtime must come first in the preload list.
    asan=$(ldd "$host" 2>/dev/null | awk '/libasan/ { print $3 }')
    LD_PRELOAD="${asan:+$asan:}$preload" "$host" "$library" >out 2>errors
    status=$?
    if grep -q 'ASan runtime does not come first' errors; then
        echo "skipped: AddressSanitizer refuses the preloaded library"
        exit 77
    fi
else
    "$host" "$library" >out 2>errors
    status=$?
fi

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
# glibc's err(3) would print and exit with the level (8) as status.
[ "$status" -eq 0 ] || fail "host exited with status $status"
grep -qx 'host finished' out || fail "host did not run to its end"

case $kind in
tarvex) prefix='' where=errors ;;
export) prefix='host err ' where=out ;;
preload) prefix='preload err ' where=errors ;;
*) echo "unknown kind $kind"; exit 2 ;;
esac
for line in '8: QORHT> GetQorInfo() exited' \
    '8: QORHT> version compiled on Nov 15 1999 at time 10:30:27' \
    '8: QORHT> ColdStart() exited, 0'; do
    grep -qxF "$prefix$line" "$where" || fail "missing \"$prefix$line\""
done
if [ "$kind" != tarvex ] && grep -q '^[0-9]*: QORHT>' errors; then
    fail "the host runtime library's err received lines"
fi
if [ "$kind" = export ]; then
    grep -qx 'host err lines [3-9]' out || fail "wrong number of lines at the host's err"
fi

if [ "$failed" -ne 0 ]; then
    echo "--- stdout"; cat out
    echo "--- stderr"; cat errors
    exit 1
fi
echo "ok: $kind"
