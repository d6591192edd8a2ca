#!/usr/bin/env bash
# A short tour of the driver: htsim plays two controller stations on a
# pseudo-terminal (B behind a COMM-2H office), and htpoll, one whole host
# session (ColdStart ... EndQor) per run, writes values and reads them back.
# Exits 0 only when every value read back is the value written.
#
# Usage: tools/demo.sh BUILD_DIR      (run by `make demo`, which builds first)
set -euo pipefail

build=${1:?usage: tools/demo.sh BUILD_DIR}
build=$(cd "$build" && pwd)
htsim=$build/tools/htsim/htsim
htpoll=$build/tools/htpoll/htpoll
for tool in "$htsim" "$htpoll"; do
    if [[ ! -x $tool ]]; then
        echo "demo: $tool is missing; build first (make build)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qorht-demo.XXXXXX")
sim_pid=""
cleanup() {
    # The simulator also exits when its standard input (fd 3) closes, so it
    # cannot outlive this script even if the trap never runs.
    exec 3>&- 4<&-
    if [[ -n $sim_pid ]]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulator's stdin and stdout are FIFOs held by this shell: stdin for
# --stdin-eof-exits, stdout for the first line, its port.
mkfifo "$work/sim.in" "$work/sim.out"
"$htsim" --station 01:02 --station 01:03:05 --stdin-eof-exits \
    <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
exec 3>"$work/sim.in"
exec 4<"$work/sim.out"
if ! read -r -t 10 -u 4 port || [[ $port != /dev/* ]]; then
    echo "demo: htsim printed no port; its log:" >&2
    cat "$work/sim.log" >&2
    exit 1
fi

cat >"$work/QORHT.INT" <<'EOF'
* demo stations: A on loop 1 unit 2, B on loop 1 unit 3 behind office 5
A : 01 02
B : 01 03 05
EOF
cd "$work"

echo "htsim serves stations 01:02 and 01:03:05 on $port"
echo "INT file: A : 01 02 / B : 01 03 05"
echo
row() { printf '%-4s %-40s %-7s %s\n' "$@"; }
row "step" "what htpoll does" "result" "values"
row "----" "----------------------------------------" "------" "------"

failures=0
step=0
# htpoll with the demo's port; its driver log and failure lines are kept.
run_htpoll() { "$htpoll" -p "$port" "$@" 2>>"$work/htpoll.log"; }

# check WHAT EXPECTED READ_ARGS... : reads with csv output and compares the
# value column, all elements joined by blanks.
check() {
    local what=$1 expected=$2
    shift 2
    local got
    got=$(run_htpoll --format csv "$@" |
        awk -F, 'NR > 1 && $3 == "read" && $7 == "0" { printf "%s%s", sep, $5; sep = " " }') || true
    step=$((step + 1))
    if [[ $got == "$expected" ]]; then
        row "$step" "$what" "ok" "$got"
    else
        row "$step" "$what" "FAILED" "expected $expected, read ${got:-nothing}"
        failures=$((failures + 1))
    fi
}

# run WHAT SHOWN ARGS... : a write that only has to succeed; SHOWN is the
# value column.
run() {
    local what=$1 shown=$2
    shift 2
    step=$((step + 1))
    if run_htpoll "$@" >/dev/null; then
        row "$step" "$what" "ok" "$shown"
    else
        row "$step" "$what" "FAILED" "$shown"
        failures=$((failures + 1))
    fi
}

run "write word AWR00010" "4660 (0x1234)" AWR00010 0x1234
check "read word AWR00010" "4660" AWR00010

run "clear word AWM00010" "0" AWM00010 0
run "set bit ABM00103 (word WM 0010, bit 3)" "1" ABM00103 1
check "read word AWM00010: only bit 3 set" "8" AWM00010

run "write double word BLR00020 (station B)" "305419896 (0x12345678)" BLR00020 305419896
check "read double word BLR00020" "305419896" BLR00020

words=(100 200 300 400 500 600 700 800 900 1000)
run "write 10 words from AWR00100" "${words[*]}" -c 10 AWR00100 "${words[@]}"
check "read 10 words from AWR00100" "${words[*]}" -c 10 AWR00100

bits=(1 0 1 1 0 0 0 1 0 1 0 0 1 1 1 0)
run "write 16 bits from BBR00200" "${bits[*]}" -c 16 BBR00200 "${bits[@]}"
check "read 16 bits from BBR00200" "${bits[*]}" -c 16 BBR00200

# WarmStart, then the session's EndQor, both confirmed by the driver's log.
log=$("$htpoll" -v -p "$port" --warm-start A 2>&1 >/dev/null) || true
step=$((step + 1))
if grep -q "QORHT> WarmStart() station 'A', OK" <<<"$log"; then
    row "$step" "WarmStart station A" "ok" "station 'A', OK"
else
    row "$step" "WarmStart station A" "FAILED" "no OK in the driver's log"
    failures=$((failures + 1))
fi
step=$((step + 1))
if grep -q "QORHT> EndQor() exited, 0" <<<"$log"; then
    row "$step" "EndQor: release stations, close port" "ok" "exited, 0"
else
    row "$step" "EndQor: release stations, close port" "FAILED" "no exit in the driver's log"
    failures=$((failures + 1))
fi
printf '%s\n' "$log" >>"$work/htpoll.log"

echo
if ((failures > 0)); then
    echo "demo: $failures of $step steps failed; htpoll said:" >&2
    grep -v '^[0-9]*: ' "$work/htpoll.log" >&2 || true
    exit 1
fi
echo "demo: all $step steps passed"
