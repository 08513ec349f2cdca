#!/bin/sh
# hub_session.sh <satvaro-hub> <config> <sale document>, run under
# satvaro-harness: starts the hub with the configuration, waits until it names
# its port, queries the device and sends the sale through it with curl, then
# ends it by its PID; it must stop cleanly.
set -eu
hub=$1 config=$2 sale=$3
log=$(mktemp)
"$hub" --config "$config" 2>"$log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; cat "$log" >&2; rm -f "$log"' EXIT

tries=0
port=""
while [ -z "$port" ]; do
  kill -0 "$pid" 2>/dev/null || exit 1
  [ "$tries" -lt 300 ] || exit 1
  sleep 0.1
  tries=$((tries + 1))
  port=$(sed -n 's/.* port \([0-9]*\),.*/\1/p' "$log")
done
url=http://127.0.0.1:$port/hub/v1
curl -sf -d numero_caixa=1 "$url/consultarsat" | grep -q '"retorno":"[0-9]*|08000|'
curl -sf --data-urlencode numero_caixa=2 --data-urlencode "dados_venda@$sale" \
  "$url/enviardadosvenda" | grep -q '"retorno":"[0-9]*|06000|'
kill "$pid"
wait "$pid"
