#!/usr/bin/env bash
# The floors of src/: each folder includes only its own headers and those of
# the folders below it (docs/architecture.md, "The floors"). Prints every
# include that climbs a floor and fails with it.
#
#   floors.sh SOURCE_DIR
set -u
src=$1/src
declare -A may_include=(
  [platform]="platform"
  [model]="model"
  [messages]="messages platform model"
  [transport]="transport platform model"
  [discovery]="discovery transport messages platform model"
  [image]="image discovery transport messages platform model"
  [update]="update image discovery transport messages platform model"
  [entry]="entry update image discovery transport messages platform model"
  [main]="main entry update image discovery transport messages platform model"
)
climbs=0
for folder in "${!may_include[@]}"; do
  while IFS= read -r line; do
    included=${line#*#include \"}
    included=${included%%/*}
    [[ -n ${may_include[$included]+known} ]] || continue  # not a folder of src/
    if [[ " ${may_include[$folder]} " != *" $included "* ]]; then
      echo "climbs a floor: $line"
      climbs=1
    fi
  done < <(grep -rn '^#include "' "$src/$folder" --include='*.cpp' --include='*.h')
done
exit $climbs
