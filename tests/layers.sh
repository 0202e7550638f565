#!/usr/bin/env bash
# Each layer includes only from itself and the layers below it: store and
# serial at the bottom, cards on serial, app on cards and store (and serial
# through them), rfcard-strict and rfcardd on app; the simulator stands apart. The build
# enforces the links; this catches an include that the build would let pass
# (a header-only use of a layer above).
cd "$(dirname "$0")/.."
declare -A allowed=(
  [store]="store" [serial]="serial" [cards]="cards serial"
  [app]="app cards store serial" [sim]="sim" [strict]="strict app cards store serial"
  [daemon]="daemon app cards store serial"
)
bad=0
for layer in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    file=${hit%%:*} inc=${hit#*\"}; inc=${inc%\"}
    [[ $inc == */* ]] || continue # beside the file itself
    [[ " ${allowed[$layer]} " == *" ${inc%%/*} "* ]] && continue
    echo "$file includes \"$inc\": $layer may include only from ${allowed[$layer]}"
    bad=1
  done < <(grep -rHo '^#include "[^"]*"' "$layer")
done
[ $bad -eq 0 ] && echo "layers: every include stays within its layer or below"
exit $bad
