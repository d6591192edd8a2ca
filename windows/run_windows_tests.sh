#!/usr/bin/env bash
# The Windows side of the test suite, driven from the native build's ctest.
#
#   run_windows_tests.sh build   SOURCE_DIR WORK_DIR
#       cross-builds QORHT.DLL, TARVEX.DLL and test_host.exe for 32-bit
#       (WORK_DIR/win32, the product) and 64-bit Windows (WORK_DIR/win64)
#   run_windows_tests.sh inspect SOURCE_DIR WORK_DIR
#       reads both DLLs with objdump: PE32 i386 DLL (32-bit), the one export
#       QorMain, err imported by name from TARVEX.DLL, no compiler runtime DLL
#   run_windows_tests.sh wine    SOURCE_DIR WORK_DIR HTSIM
#       runs the 64-bit test_host.exe under Wine against htsim on a pseudo-
#       terminal that Wine sees as COM7 and COM12 (this machine cannot run
#       32-bit Windows programs; the sources are the same)
#
# Exit status 0 passed, 1 failed, 77 skipped (a package is missing; the SKIP
# line names it). The Wine prefix lives in WORK_DIR/wineprefix and is made
# once; later runs reuse it.
set -euo pipefail

readonly SKIPPED=77

skip() {
    echo "SKIP: $*"
    exit "$SKIPPED"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# need COMMAND PACKAGE: skip unless COMMAND is on the PATH.
need() {
    command -v "$1" >/dev/null 2>&1 ||
        skip "$1 not found; install the Debian package $2 (bash tools/install-deps.sh)"
}

need_cross_tools() {
    need i686-w64-mingw32-g++ g++-mingw-w64-i686
    need x86_64-w64-mingw32-g++ g++-mingw-w64-x86-64
    need i686-w64-mingw32-dlltool binutils-mingw-w64
    need x86_64-w64-mingw32-dlltool binutils-mingw-w64
    need i686-w64-mingw32-objdump binutils-mingw-w64
    need x86_64-w64-mingw32-objdump binutils-mingw-w64
}

cross_build() {
    local source=$1 work=$2 bits triple
    need_cross_tools
    need cmake cmake
    # The native build's flags (sanitizers, say) must not leak into the
    # cross compilers.
    unset CFLAGS CXXFLAGS LDFLAGS CPPFLAGS
    for bits in 32 64; do
        if [ "$bits" = 32 ]; then triple=i686-w64-mingw32; else triple=x86_64-w64-mingw32; fi
        local dir=$work/win$bits
        if [ ! -f "$dir/CMakeCache.txt" ]; then
            cmake -S "$source" -B "$dir" \
                -DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchains/$triple.cmake" \
                -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure-win$bits.log" 2>&1 ||
                { cat "$work/configure-win$bits.log"; fail "configuring the $bits-bit build"; }
        fi
        cmake --build "$dir" -j 2 || fail "building the $bits-bit driver"
        for file in QORHT.DLL TARVEX.DLL test_host.exe; do
            [ -f "$dir/bin/$file" ] || fail "$dir/bin/$file was not built"
        done
        echo "built $dir/bin: QORHT.DLL TARVEX.DLL test_host.exe"
    done
}

# check_dll FILE BITS: the binary interface the host sees.
check_dll() {
    local dll=$1 bits=$2 objdump headers problems=0
    if [ "$bits" = 32 ]; then
        objdump=i686-w64-mingw32-objdump
    else
        objdump=x86_64-w64-mingw32-objdump
    fi
    [ -f "$dll" ] || fail "$dll is missing (did the windows_cross_build test run?)"
    headers=$("$objdump" -p "$dll") || fail "$objdump cannot read $dll"

    # Format and kind: the host is a 32-bit Windows program.
    if [ "$bits" = 32 ]; then
        grep -q 'file format pei-i386$' <<<"$headers" || { echo "$dll: not pei-i386"; problems=1; }
        grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$headers" ||
            { echo "$dll: not a PE32 image"; problems=1; }
    else
        grep -q 'file format pei-x86-64$' <<<"$headers" || { echo "$dll: not pei-x86-64"; problems=1; }
    fi
    # The DLL flag of the file header's characteristics.
    awk '/^Characteristics/ {inside = 1; next} inside && /^[^\t]/ {exit}
         inside && $1 == "DLL" {found = 1} END {exit !found}' <<<"$headers" ||
        { echo "$dll: not flagged as a DLL"; problems=1; }

    # Exports: exactly QorMain, undecorated.
    local exports
    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {inside = 1; next}
                   inside && /^\t\[/ {print $NF; next} inside {exit}' <<<"$headers")
    if [ "$exports" != "QorMain" ]; then
        echo "$dll: exports are [$(tr '\n' ' ' <<<"$exports")], expected exactly [QorMain]"
        problems=1
    fi

    # Imports, as "DLL member" pairs.
    local imports
    imports=$(awk '/^\tDLL Name: / {dll = $3; next}
                   dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ {print dll, $3; next}
                   dll != "" && /^\t[0-9a-f]+\t +[0-9]+ *$/ {print dll, "#ordinal"; next}
                   /^ [0-9a-f]+\t/ || /^$/ {dll = ""}' <<<"$headers")
    if ! grep -qx 'TARVEX.DLL err' <<<"$imports"; then
        echo "$dll: does not import err by name from TARVEX.DLL"
        problems=1
    fi
    local tarvex_members
    tarvex_members=$(awk '$1 == "TARVEX.DLL" {print $2}' <<<"$imports")
    if [ "$tarvex_members" != "err" ]; then
        echo "$dll: imports [$(tr '\n' ' ' <<<"$tarvex_members")] from TARVEX.DLL, expected [err]"
        problems=1
    fi
    # Only the host runtime and the system: no compiler runtime DLL travels
    # with the driver.
    local name
    for name in $(awk '{print $1}' <<<"$imports" | sort -u); do
        case "${name,,}" in
        libstdc++* | libgcc* | libwinpthread*)
            echo "$dll: imports from the compiler runtime $name"
            problems=1
            ;;
        tarvex.dll | kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*) ;;
        *)
            echo "$dll: imports from $name, which the host machine need not have"
            problems=1
            ;;
        esac
    done

    if [ "$problems" != 0 ]; then
        echo "--- $objdump -p $dll (imports and exports) ---"
        grep -E $'DLL Name|^\t[0-9a-f]+\t|^\t\\[' <<<"$headers" || true
        return 1
    fi
    echo "ok - $dll: $(awk '{print $1}' <<<"$imports" | sort -u | tr '\n' ' ')export QorMain"
}

inspect() {
    local work=$1 status=0
    # Without the cross tools nothing was built this time: DLLs left from an
    # earlier run would be inspected in place of the current sources.
    need_cross_tools
    check_dll "$work/win32/bin/QORHT.DLL" 32 || status=1
    check_dll "$work/win64/bin/QORHT.DLL" 64 || status=1
    return "$status"
}

# --- Wine run -----------------------------------------------------------

htsim_pid=""
htsim_fifo=""
dosdevices=""

cleanup() {
    if [ -n "$htsim_pid" ]; then
        kill -TERM "$htsim_pid" 2>/dev/null || true
        local waited=0
        while kill -0 "$htsim_pid" 2>/dev/null && [ "$waited" -lt 50 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        kill -KILL "$htsim_pid" 2>/dev/null || true
        wait "$htsim_pid" 2>/dev/null || true
    fi
    if [ -n "$dosdevices" ]; then
        rm -f "$dosdevices/com7" "$dosdevices/com12"
    fi
    if [ -n "$htsim_fifo" ]; then
        rm -f "$htsim_fifo"
    fi
}

find_wine() {
    local candidate
    for candidate in "$(command -v wine64 || true)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

find_wineserver() {
    local candidate
    for candidate in "$(command -v wineserver || true)" /usr/lib/wine/wineserver64 \
        /usr/lib/wine/wineserver; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

wine_run() {
    local work=$1 htsim=${2:-} wine wineserver
    wine=$(find_wine) || skip "wine64 not found; install the Debian packages wine and wine64"
    wineserver=$(find_wineserver) || skip "wineserver not found; install the Debian package wine"
    need_cross_tools
    [ -n "$htsim" ] && [ -x "$htsim" ] ||
        skip "the controller simulator htsim is not built (tools/htsim)"
    local bin=$work/win64/bin
    for file in QORHT.DLL TARVEX.DLL test_host.exe; do
        [ -f "$bin/$file" ] || fail "$bin/$file is missing (did the windows_cross_build test run?)"
    done

    export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEARCH=win64
    # No Mono or Gecko prompts: the test host needs neither.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    trap cleanup EXIT

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "preparing the Wine prefix $WINEPREFIX (first run only)"
        mkdir -p "$WINEPREFIX"
        timeout 600 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 ||
            { cat "$work/wineboot.log"; fail "wineboot -i did not finish"; }
        timeout 60 "$wineserver" -w || true
        [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot left no prefix in $WINEPREFIX"
    fi
    dosdevices=$WINEPREFIX/dosdevices
    mkdir -p "$dosdevices"

    # The simulator's standard input is a FIFO held open by this script: if
    # the script dies, whatever the way, htsim sees EOF and exits.
    local run=$work/wine-run
    rm -rf "$run"
    mkdir -p "$run"
    htsim_fifo=$run/htsim.stdin
    mkfifo "$htsim_fifo"
    "$htsim" --station 01:02 --station 01:03:04 --stdin-eof-exits \
        <"$htsim_fifo" >"$run/htsim.out" 2>"$run/htsim.err" &
    htsim_pid=$!
    exec 9>"$htsim_fifo"

    local pty="" waited=0
    while [ "$waited" -lt 100 ]; do
        if [ -s "$run/htsim.out" ] && pty=$(head -n 1 "$run/htsim.out") &&
            [ "$(wc -l <"$run/htsim.out")" -ge 1 ]; then
            break
        fi
        kill -0 "$htsim_pid" 2>/dev/null || { cat "$run/htsim.err"; fail "htsim exited early"; }
        sleep 0.1
        waited=$((waited + 1))
    done
    [ -n "$pty" ] && [ -e "$pty" ] || { cat "$run/htsim.err"; fail "htsim gave no pty ($pty)"; }
    echo "htsim (pid $htsim_pid) serves $pty as COM7 and COM12"
    ln -sfn "$pty" "$dosdevices/com7"
    ln -sfn "$pty" "$dosdevices/com12"

    cp "$bin/QORHT.DLL" "$bin/TARVEX.DLL" "$bin/test_host.exe" "$run/"
    local status=0
    (cd "$run" && timeout 300 "$wine" test_host.exe COM7 COM12 >"$run/host.out" 2>"$run/host.err") ||
        status=$?
    timeout 60 "$wineserver" -w || true
    # Windows console text ends its lines with CR LF.
    sed -i 's/\r$//' "$run/host.out" "$run/host.err"

    cat "$run/host.out"
    echo "--- driver log (TARVEX stand-in) ---"
    grep -E '^(0|8|32): ' "$run/host.err" || true
    [ "$status" = 0 ] || {
        echo "--- Wine's own output ---"
        grep -vE '^(0|8|32): ' "$run/host.err" || true
        fail "test_host.exe exited with status $status"
    }

    # What the host cannot see from the results: the driver's messages.
    local line
    for line in \
        '8: QORHT> version compiled on Nov 15 1999 at time 10:30:27' \
        '8: QORHT> ReadIntFile() A= loop 01h, unit 02h' \
        '8: QORHT> ReadIntFile() B= loop 01h, unit 03h, office 04h' \
        '32: QORHT> ColdStart() port COM7 opened, file handle ' \
        '8: QORHT> ColdStart() info: READ OCCUPATION used' \
        "8: QORHT> WarmStart() station 'A', OK" \
        '32: QORHT> OpenCom() exited with error' \
        '8: QORHT> EndQor() exited, 0'; do
        grep -qF -- "$line" "$run/host.err" || fail "driver log lacks: $line"
    done
    local open_errors
    open_errors=$(grep -cF 'OpenCom() exited with error' "$run/host.err" || true)
    [ "$open_errors" = 1 ] || fail "OpenCom failed $open_errors times; only COM99 may fail"
    grep -q '^0 of [0-9]* checks failed$' "$run/host.out" || fail "test_host reported failures"
    echo "ok - QORHT.DLL served the test host under Wine"
}

main() {
    [ $# -ge 3 ] || { echo "usage: $0 build|inspect|wine SOURCE_DIR WORK_DIR [HTSIM]" >&2; exit 2; }
    local action=$1 source=$2 work=$3
    mkdir -p "$work"
    case "$action" in
    build) cross_build "$source" "$work" ;;
    inspect) inspect "$work" ;;
    wine) wine_run "$work" "${4:-}" ;;
    *) echo "unknown action $action" >&2; exit 2 ;;
    esac
}

main "$@"
