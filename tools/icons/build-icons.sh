#!/usr/bin/env bash
# Copies the UI icons bundled under ":/icons" from the lucide-static package
# (ISC) and makes them safe for QtSvg. Usage: tools/icons/build-icons.sh [output-dir]
# Needs node/npm and xmllint (libxml2-utils).
set -euo pipefail

readonly LUCIDE_VERSION="1.87.0"

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
licenses="$here/../../resources/licenses"
out="${1:-$here/../../resources/icons}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# Our icon name -> lucide icon name.
readonly ICONS=(
    menu:menu
    close:x
    check:check
    eye:eye
    eye-off:eye-off
    connect:zap
    store:shopping-bag
    ticket:headset
    reward:gift
    language:languages
    announcement:megaphone
    lock:lock
    moon:moon
    sun:sun
    logout:log-out
    chevron-right:chevron-right
    chevron-down:chevron-down
    arrow-left:arrow-left
    shuffle:shuffle
    globe:globe
    pin:map-pin
    power:power
    network:network
)

for tool in npm xmllint; do
    command -v "$tool" >/dev/null || { echo "error: $tool not found" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
npm install --prefix "$work" --no-save --no-audit --no-fund --silent \
    "lucide-static@$LUCIDE_VERSION" >/dev/null
src="$work/node_modules/lucide-static/icons"
got="$(node -p "require('$work/node_modules/lucide-static/package.json').version")"
[[ "$got" == "$LUCIDE_VERSION" ]] ||
    { echo "error: expected lucide-static $LUCIDE_VERSION, got $got" >&2; exit 1; }

# The licence travels with the assets; only refreshed for the tree's own copy.
if [[ $# -eq 0 ]]; then
    mkdir -p "$licenses"
    cp "$work/node_modules/lucide-static/LICENSE" "$licenses/lucide-static.txt"
    echo "wrote $(cd "$licenses" && pwd)/lucide-static.txt"
fi

declare -A wanted=()
for entry in "${ICONS[@]}"; do
    name="${entry%%:*}"
    lucide="${entry#*:}"
    wanted[$name]=1
    svg="$src/$lucide.svg"
    [[ -f "$svg" ]] || { echo "error: lucide-static has no '$lucide'" >&2; exit 1; }
    dst="$out/$name.svg"
    # QtSvg does not resolve currentColor reliably; the UI recolours the
    # icons through their alpha anyway, so plain black is all they need.
    sed -e 's/currentColor/#000000/g' -e '/^ *class="[^"]*"$/d' "$svg" >"$dst"
    xmllint --noout "$dst"
    if grep -q currentColor "$dst" || ! grep -q 'viewBox="0 0 24 24"' "$dst"; then
        echo "error: $dst still uses currentColor or lost its viewBox" >&2
        exit 1
    fi
    printf 'wrote %-50s %5d bytes (lucide %s)\n' "$dst" "$(stat -c %s "$dst")" "$lucide"
done

for svg in "$out"/*.svg; do
    name="$(basename "$svg" .svg)"
    if [[ -z "${wanted[$name]:-}" ]]; then
        rm -f "$svg"
        echo "removed $svg"
    fi
done
echo "${#ICONS[@]} icons in $out"
