#!/usr/bin/env bash
# Fails when a folder of src/ includes a folder above it. From the bottom:
#   platform < common < log < registry < device < settings < rpc < monitors < service
# Beside the order:
#   agent    its own program: includes only platform, common and log; nothing else in src/
#            includes it (its tests do, from outside src/).
#   laptops  test support (the laptop files and their builder into the simulated machine):
#            above service, so it may include any layer but agent; nothing else in src/
#            includes it.
#   tools/, tests/, bench/ sit above everything and are not checked; nothing in src/
#            includes them.
# A folder of src/ that is in none of these is refused until it is given its place here.
#
# Usage: scripts/check-layers.sh [--allow FILE] [ROOT]
# ROOT defaults to this repository. FILE (default ROOT/scripts/layers-allow.txt, when it
# exists) lists known exceptions, one "FILE INCLUDE" a line (# starts a comment), e.g.
#   src/monitors/toggle_flag.cpp service/sample_service.h
# Prints each offending include as FILE:LINE with the rule it breaks; exits 1 if there is any.
set -euo pipefail

here="${BASH_SOURCE[0]%/*}"
[[ "$here" == "${BASH_SOURCE[0]}" ]] && here=.
root="$here/.."
allow=""
while (($#)); do
    case "$1" in
        --allow) allow="${2:?--allow needs a file}"; shift 2 ;;
        -h|--help) sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) root="$1"; shift ;;
    esac
done
[[ -d "$root/src" ]] || { echo "check-layers: no src/ under $root" >&2; exit 2; }
if [[ -z "$allow" && -f "$root/scripts/layers-allow.txt" ]]; then allow="$root/scripts/layers-allow.txt"; fi
if [[ -n "$allow" ]]; then
    [[ -r "$allow" && ! -d "$allow" ]] || { echo "check-layers: no allow-list $allow" >&2; exit 2; }
    [[ "$allow" == /* ]] || allow="$PWD/$allow"   # read after the cd below
fi

cd "$root"
# Every include directive of the sources, as PATH:LINE:TEXT; none is fine too.
{ grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' src \
      --include='*.h' --include='*.hpp' --include='*.c' --include='*.cc' --include='*.cpp' \
      --include='*.rc' --include='*.inl' || true; } |
awk -v allowFile="$allow" '
function layerOf(path,    parts) {
    # path is normalised and starts with src/
    split(path, parts, "/")
    return (path ~ /^src\/[^\/]+\//) ? parts[2] : ""
}
function normalise(path,    parts, n, i, out, depth, stack) {
    n = split(path, parts, "/")
    depth = 0
    for (i = 1; i <= n; i++) {
        if (parts[i] == "" || parts[i] == ".") continue
        if (parts[i] == ".." && depth > 0 && stack[depth] != "..") { depth--; continue }
        stack[++depth] = parts[i]
    }
    out = ""
    for (i = 1; i <= depth; i++) out = out (i > 1 ? "/" : "") stack[i]
    return out
}
function exists(path,    line, r) {
    r = (getline line < path)
    if (r >= 0) close(path)
    return r >= 0
}
# Where the compiler would find the header: beside the includer (quotes only), then the
# include roots the build gives (src/, and src/agent/ for the agent). "" when neither
# holds it (a system or generated header), unless it names a folder of src/.
function resolve(file, name, quoted,    dir, c, first) {
    dir = file; sub(/\/[^\/]*$/, "", dir)
    if (quoted) { c = normalise(dir "/" name); if (exists(c)) return c }
    c = normalise("src/" name); if (exists(c)) return c
    c = normalise("src/agent/" name); if (exists(c)) return c
    first = name; sub(/\/.*/, "", first)
    if (name ~ /\// && (first in rank || first == "agent" || first == "laptops")) return normalise("src/" name)
    return ""
}
# "" when from may include to, else the rule it breaks.
function rule(from, to) {
    if (from == to) return ""
    if (!(from in rank) && from != "agent" && from != "laptops")
        return "src/" from "/ has no place in the layer order (give it one in scripts/check-layers.sh)"
    if (to == "agent") return "nothing outside agent includes agent (its own program)"
    if (from == "agent")
        return (to == "platform" || to == "common" || to == "log") ? "" : "agent may include only platform, common and log"
    if (to == "laptops") return "nothing in src/ but laptops includes laptops (test support)"
    if (from == "laptops") return (to in rank) ? "" : "src/" to "/ has no place in the layer order"
    if (!(to in rank)) return "src/" to "/ has no place in the layer order (give it one in scripts/check-layers.sh)"
    if (rank[to] > rank[from]) return from " may not include " to ", which is above it (" order ")"
    return ""
}
BEGIN {
    order = "platform < common < log < registry < device < settings < rpc < monitors < service"
    n = split("platform common log registry device settings rpc monitors service", names, " ")
    for (i = 1; i <= n; i++) rank[names[i]] = i
    if (allowFile != "") {
        while ((r = getline line < allowFile) > 0) {
            sub(/#.*/, "", line)
            if (split(line, f, " ") == 0) continue
            if (split(line, f, " ") != 2) { printf "check-layers: %s: not \"FILE INCLUDE\": %s\n", allowFile, line > "/dev/stderr"; bad = 1; continue }
            allowed[f[1] SUBSEP f[2]] = 0
        }
        close(allowFile)
        if (bad) exit 2
    }
}
{
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    lineNo = rest; sub(/:.*/, "", lineNo)
    text = substr(rest, length(lineNo) + 2)
    quoted = (text ~ /include[[:space:]]*"/)
    if (!match(text, quoted ? "\"[^\"]*\"" : "<[^>]*>")) next
    name = substr(text, RSTART + 1, RLENGTH - 2)
    checked++
    target = resolve(file, name, quoted)
    if (target == "") next
    if (target !~ /^src\//) { why = "src/ includes nothing outside src/ (" target ")" }
    else why = rule(layerOf(file), layerOf(target))
    if (why == "") next
    if ((file SUBSEP name) in allowed) { allowed[file SUBSEP name]++; allowedHits++; next }
    printf "%s:%s: #include %s: %s\n", file, lineNo, quoted ? "\"" name "\"" : "<" name ">", why
    offences++
}
END {
    if (bad) exit 2
    for (k in allowed) if (allowed[k] == 0) {
        split(k, f, SUBSEP)
        printf "check-layers: note: the allow-list entry \"%s %s\" is no longer needed\n", f[1], f[2]
    }
    printf "check-layers: %d includes, %d upward%s\n", checked, offences + 0,
           allowedHits ? sprintf(" (%d more allowed by the allow-list)", allowedHits) : ""
    exit offences ? 1 : 0
}'
