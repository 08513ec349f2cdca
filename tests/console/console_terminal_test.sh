#!/bin/bash
# console_terminal_test.sh <zozivodivo> <library dir>: the console as an
# operator sees it at a terminal, on the simulated device (run under the
# harness): the activation-code screen, the menu, a query's reply, and
# quitting; the screen at the end is golden/terminal.txt (written instead with
# SATVARO_UPDATE_GOLDEN=1). The tmux server is private to the test and ended
# by its PID.
set -u
console=$1 libdir=$2
golden=$(dirname -- "$0")/golden/terminal.txt
work=$(mktemp -d "${TMPDIR:-/tmp}/satvaro-XXXXXX")
socket=$work/tmux.sock
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

tmux -u -S "$socket" new-session -d -x 160 -y 50 -c "$work" \
  "env LD_LIBRARY_PATH=$libdir $console; sleep 60" || exit 1
server=$(tmux -S "$socket" display-message -p '#{pid}')

# The screen and what scrolled off it, without the blank lines below the text.
screen() { tmux -S "$socket" capture-pane -p -J -S -500 | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }
type_keys() { tmux -S "$socket" send-keys "$1" Enter; }
# Waits, at most 60 s, until the screen shows the text.
await() {
  for _ in $(seq 600); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  echo "the screen never showed: $1"
  screen
  exit 1
}

await "Entre com o codigo de ativacao:"
type_keys 12345678
await "[q] Sair"
type_keys 1
await "retorno: 000001|"
type_keys q
await ">>>> Funcao sat nao responde >>>>>."
[ -n "${SATVARO_UPDATE_GOLDEN:-}" ] && screen > "$golden"
screen | diff -u "$golden" -
