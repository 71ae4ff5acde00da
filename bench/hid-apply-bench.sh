#!/usr/bin/env bash
# Settings applies through the real HID path under Wine, on the virtual laptop: time per
# apply in UI mode (six touchpad scans and their reports) and in non-UI mode with the driver's
# dynamic mode off (one scan, the default set), per scan and per feature report, median and
# p90, on the forcepad laptop with the pad's collection alone and with 15 collections of
# another maker beside it; then the simulator's figures for the same applies and the design's
# count of calls (build/native/bench/apply_bench, when built). Prints figures; a benchmark, not
# a test. Two to three minutes.
# Usage: bench/hid-apply-bench.sh [SAMPLES]    (30 unless given)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
samples="${1:-30}"

scripts/install-deps.sh || exit 1
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows -j2 --target hid_apply_bench vlaptop tavovpad || exit 1

build="$root/build/windows"
export TAVO_WINEPREFIX="$build/wineprefix-hid-bench"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$root/scripts/wine-run.sh"
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
timeout 30 wineserver -k >/dev/null 2>&1 || true  # a run that was cut short
rm -rf "$TAVO_WINEPREFIX" "$TAVO_WINEPREFIX.lock"
"$root/scripts/wine-service-host.sh" || { echo "could not prepare the Wine prefix $WINEPREFIX"; exit 1; }
# The prefix's services start with its first program and inherit its standard error.
TAVO_WINE_TIMEOUT=60 "$run" cmd /c exit >/dev/null 2>&1
c_drive="$TAVO_WINEPREFIX/drive_c"
mkdir -p "$c_drive/vlaptop"
cp "$build/tests/vlaptop.exe" "$build/tests/tavovpad.sys" tests/wine/vlaptop/driver/tavovpad.inf \
    "$build/bench/hid_apply_bench.exe" "$c_drive/vlaptop/"
w() { TAVO_WINE_TIMEOUT=300 "$run" "$@" 2>&1 | tr -d '\r'; }
# Makes the laptop; says why when it could not.
install() {  # vlaptop install arguments...
    local out
    if ! out="$(TAVO_WINE_TIMEOUT=300 "$run" 'C:\vlaptop\vlaptop.exe' install "$@" 2>&1)"; then
        echo "  the laptop could not be made:"
        tr -d '\r' <<<"$out" | sed 's/^/    /'
        return 1
    fi
}

# The forcepad laptop's vendor collection and firmware, then N-1 collections of another maker
# with a vendor report of their own (report 0x05), as the simulator's benchmark shapes them.
laptop() {  # collections, file
    local i
    {
        printf '{\n  "description": "the forcepad laptop with %d HID collections",\n  "windows": "11",\n  "hid": [\n' "$1"
        cat <<'EOF'
    {"name": "vendor", "path": "-", "hardwareIds": ["HID\\VEN_TAVO&DEV_0C5E&Col02"],
     "vendorId": "0x2C7E", "productId": "0x4A51", "usagePage": "0xFF00", "usage": "0x0001",
     "featureValues": [{"reportId": "0x0D", "usagePage": "0xFF00", "usage": "0x0005", "bitSize": 16,
                        "reportCount": 2, "logicalMin": 0, "logicalMax": "0xFFFF"}],
     "firmware": {"functions": {
        "0x0101": "0x0001", "0x0104": "0x0001", "0x0105": "0x1E14", "0x0106": "0x0C80",
        "0x0107": "0x0800", "0x0108": "0x0303", "0x0365": "0x8000", "0x03A1": "0x0307",
        "0x03A2": "0x00A0", "0x03A3": "0x0080", "0x03A4": "0x003C", "0x03A9": "0x006E",
        "0x03AA": "0x0042", "0x03AB": "0x4040"}}}
EOF
        for ((i = 1; i < $1; i++)); do
            printf '    ,{"name": "other-%d", "path": "-", "hardwareIds": ["HID\\\\VEN_OTHR&DEV_%04X"],\n' "$i" $((0x200 + i))
            printf '     "vendorId": "0x8087", "productId": "0x%04X", "usagePage": "0xFF00", "usage": "0x0001",\n' $((0x200 + i))
            printf '     "featureValues": [{"reportId": "0x05", "usagePage": "0xFF00", "usage": "0x0005", "bitSize": 16, "reportCount": 2}]}\n'
        done
        printf '  ],\n  "mice": [{"description": "TAVO VadavAredu Device", "hardwareIds": ["ACPI\\\\VEN_TAVO&DEV_0C60"], "manufacturer": "TAVO"}],\n'
        printf '  "softwareComponent": {"description": "TAVO Touchpad Companion Component",\n'
        printf '    "hardwareIds": ["SWC\\\\VAR_IRORI_VOV21&SUBSYS_0001"], "manufacturer": "TAVO Inc."},\n'
        printf '  "registryFile": "%s"\n}\n' "Z:$(tr '/' '\\' <<<"$root/laptops/driver-package.reg" | sed 's/\\/\\\\/g')"
    } >"$2"
}
laptop 1 "$c_drive/bench-1.json"
laptop 16 "$c_drive/bench-16.json"

echo "Settings applies through the real HID path under Wine ($(wine --version)), the forcepad laptop on"
echo "Windows 11; $samples samples per figure, each one call. The virtual pad records every report"
echo "(a registry read and write in its driver), which is part of each report's time."
for n in 1 16; do
    for mode in ui fixed; do
        echo
        echo "== $n HID collection$([ "$n" -eq 1 ] || echo s) of the laptop"
        if [ "$mode" = ui ]; then
            install "C:\\bench-$n.json" --companion || continue
        else
            install "C:\\bench-$n.json" || continue
            w reg add 'HKLM\System\CurrentControlSet\Control\Class\{5c4c3332-344d-483c-8739-259e934c9cc8}\0000\DefaultSettings' \
                /v SupportDynamicModeCommand /t REG_DWORD /d 0 /f >/dev/null
        fi
        w 'C:\vlaptop\hid_apply_bench.exe' --samples "$samples"
        w 'C:\vlaptop\vlaptop.exe' remove >/dev/null
    done
done

echo
if [ -x build/native/bench/apply_bench ]; then
    echo "The simulator's figures for the same applies, with the design's count of calls:"
    build/native/bench/apply_bench | sed -n '/^Summary/,$p'
else
    echo "(build/native/bench/apply_bench is not built: cmake --preset native && cmake --build --preset native)"
fi
