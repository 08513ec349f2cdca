#!/bin/sh
# map_names.sh <version script>: the names it exports, one a line.
sed -n '/global:/,/local:/p' "$1" | tr -s ' \t;' '\n\n\n' | grep -E '^[A-Za-z_][A-Za-z0-9_]*$'
