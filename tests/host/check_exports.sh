#!/bin/sh
# The library exports QorMain and nothing else, and imports err by version
# TARVEX, so that it can never bind to the C library's err(3).
#   check_exports.sh NM LIBRARY
set -u
nm=$1 library=$2
symbols=$("$nm" -D "$library") || exit 1
defined=$("$nm" -D --defined-only "$library" | awk '{ print $NF }')
failed=0
if [ "$defined" != QorMain ]; then
    echo "FAIL: defined dynamic symbols are not exactly QorMain:"
    echo "$defined"
    failed=1
fi
if ! echo "$symbols" | grep -Eq '^ +U err@TARVEX$'; then
    echo "FAIL: no undefined err@TARVEX:"
    echo "$symbols" | grep err
    failed=1
fi
[ "$failed" -eq 0 ] && echo "ok: exports"
exit $failed
