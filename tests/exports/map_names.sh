#!/bin/sh
# map_names.sh <version script>: the names it exports, one a line.
sed -n '/global:/,/local:/s/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);.*/\1/p' "$1"
