#!/usr/bin/env bash
# Holds every #include "…" of the product code to the order of the layers:
#   base → platform → crypto → random → codec → container → job → app, cli
# A file may include headers of its own folder and of the folders below it, never of a folder
# above it or beside it. The resource ids belong to the desktop program alone.
# Usage: tools/check-layers.sh [REPOSITORY]; prints each offending line and exits 1 if any.
set -euo pipefail

top=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$top"

declare -A rank=([base]=0 [platform]=1 [crypto]=2 [random]=3 [codec]=4 [container]=5 [job]=6 [app]=7 [cli]=7)

violations=0
while IFS= read -r file; do
    own=${file%%/*}
    while IFS=: read -r line included; do
        target=${included%%/*}
        allowed=0
        if [[ $target == "$own" ]]; then
            allowed=1
        elif [[ $target == resources ]]; then
            [[ $own == app ]] && allowed=1
        elif [[ -n ${rank[$target]+set} && ${rank[$target]} -lt ${rank[$own]} ]]; then
            allowed=1
        fi
        if ((!allowed)); then
            echo "$file:$line: #include \"$included\" reaches from $own/ to $target/ against the layer order"
            violations=$((violations + 1))
        fi
    done < <(grep -n -o -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"]+"' "$file" |
             sed -E 's/^([0-9]+):.*"([^"]+)"$/\1:\2/')
done < <(find base platform crypto random codec container job app cli -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if ((violations)); then
    echo "$violations include(s) against the layer order"
    exit 1
fi
echo "include layers: every #include follows base → platform → crypto → random → codec → container → job → app, cli"
