#!/usr/bin/env bash
# Renders the country flags bundled under ":/flags" from the flag-icons
# package (MIT). Usage: tools/flags/render-flags.sh [output-dir]
# Needs node/npm, rsvg-convert (librsvg2-bin) and, optionally, optipng.
set -euo pipefail

readonly FLAG_ICONS_VERSION="7.5.0"
# The UI asks for 96x72 source pixels (4:3); rendering at exactly that size
# means the card never resamples, and it is still 2x of the drawn thumbnail.
readonly WIDTH=96
readonly HEIGHT=72

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
licenses="$here/../../resources/licenses"
out="${1:-$here/../../resources/flags}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# Every code of the built-in country table, plus "uk", which labels often
# use for the United Kingdom although its ISO code is "gb".
readonly CODES=(
    us ca mx br ar cl gb de fr it es pt nl be ch at se no dk fi is ie pl cz hu
    gr ro ua ru tr il ae sa za eg jp kr kp cn hk mo tw sg my th vn id ph kh la
    mm in pk bd au nz uk
)
# Codes flag-icons does not ship under their own name.
declare -A SOURCE_OF=([uk]=gb)

for tool in npm rsvg-convert; do
    command -v "$tool" >/dev/null || { echo "error: $tool not found" >&2; exit 1; }
done
have_optipng=0
command -v optipng >/dev/null && have_optipng=1 ||
    echo "note: optipng not found, PNGs are left unoptimised" >&2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
npm install --prefix "$work" --no-save --no-audit --no-fund --silent \
    "flag-icons@$FLAG_ICONS_VERSION" >/dev/null
src="$work/node_modules/flag-icons/flags/4x3"
got="$(node -p "require('$work/node_modules/flag-icons/package.json').version")"
[[ "$got" == "$FLAG_ICONS_VERSION" ]] ||
    { echo "error: expected flag-icons $FLAG_ICONS_VERSION, got $got" >&2; exit 1; }

# PNG header: width and height are big-endian 32-bit at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }

# The licence travels with the assets; only refreshed for the tree's own copy.
if [[ $# -eq 0 ]]; then
    mkdir -p "$licenses"
    cp "$work/node_modules/flag-icons/LICENSE" "$licenses/flag-icons.txt"
    echo "wrote $(cd "$licenses" && pwd)/flag-icons.txt"
fi

declare -A wanted=()
for code in "${CODES[@]}"; do
    wanted[$code]=1
    svg="$src/${SOURCE_OF[$code]:-$code}.svg"
    [[ -f "$svg" ]] || { echo "error: no flag for '$code' in flag-icons" >&2; exit 1; }
    png="$out/$code.png"
    rsvg-convert --width "$WIDTH" --height "$HEIGHT" --format png --output "$png" "$svg"
    if ((have_optipng)); then
        optipng -quiet -o7 -strip all "$png"
    fi
    size="$(png_size "$png")"
    [[ "$size" == "${WIDTH}x${HEIGHT}" ]] ||
        { echo "error: $png is $size, expected ${WIDTH}x${HEIGHT}" >&2; exit 1; }
    printf 'wrote %-44s %s %6d bytes (from %s)\n' "$png" "$size" "$(stat -c %s "$png")" "$(basename "$svg")"
done

# Drop flags that are no longer in the table so the folder matches it exactly.
for png in "$out"/*.png; do
    code="$(basename "$png" .png)"
    if [[ -z "${wanted[$code]:-}" ]]; then
        rm -f "$png"
        echo "removed $png"
    fi
done
echo "${#CODES[@]} flags in $out"
