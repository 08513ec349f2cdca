#!/bin/sh
# check_exports.sh <library> <version script>: the library exports exactly the
# plain C names its version script lists, nothing more, nothing less.
set -eu
library=$1 map=$2
wanted=$(mktemp)
trap 'rm -f "$wanted"' EXIT
"$(dirname -- "$0")/map_names.sh" "$map" | sort > "$wanted"
if ! nm -D --defined-only "$library" | awk '{print $NF}' | sort | diff "$wanted" - >&2; then
  echo "the exports of $library (>) differ from $map (<)" >&2
  exit 1
fi
