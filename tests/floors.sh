#!/usr/bin/env bash
# The floors of src/: each folder includes only its own headers and those of
# the folders below it (docs/architecture.md, "The floors"). Prints every
# include that climbs a floor and fails with it; and every variable a header
# of src/ shares (extern, not const) that the map's table of owners does not
# name.
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

# The names the table of owners gives, each in backquotes.
map=$1/docs/architecture.md
owners=$(sed -n '/^## Who owns each shared global/,/^## /p' "$map")
while IFS= read -r line; do
  declaration=${line#*:*:}
  declaration=${declaration%%//*}
  # A pointer to a function is named inside its parentheses; anything else
  # is the last word before an array's bounds or the semicolon.
  if [[ $declaration =~ \(\*[[:space:]]*([A-Za-z_][A-Za-z0-9_]*)\) ]]; then
    name=${BASH_REMATCH[1]}
  else
    declaration=${declaration%%[*}
    declaration=${declaration%%;*}
    [[ $declaration =~ ([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$ ]] || continue
    name=${BASH_REMATCH[1]}
  fi
  if [[ $owners != *"\`$name\`"* ]]; then
    echo "no owner in docs/architecture.md: $line"
    climbs=1
  fi
done < <(grep -rn '^extern ' "$src" --include='*.h' | grep -v '^[^:]*:[0-9]*:extern const ')
exit $climbs
