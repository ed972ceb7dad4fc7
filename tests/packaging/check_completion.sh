#!/usr/bin/env bash
# check_completion.sh CLI SIM, inside scripts/lab/lab.sh (where the programs only print their help):
# the completion offers every option that each command's --help lists, and the right values.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
fail=0
complete_words() {  # complete_words NAME WORD...: what TAB offers after the words
    local name=$1; shift
    COMP_WORDS=("$name" "$@") COMP_CWORD=$# COMPREPLY=()
    "_${name//-/_}"
    echo "${COMPREPLY[*]}"
}
for entry in "nasscout-cli $1 scan watch doctor known open resolve forget" "nasscout-sim $2 run raw flood"; do
    read -r name program commands <<<"$entry"
    source "$here/resources/completions/$name"
    for cmd in $commands; do
        offered=" $(complete_words "$name" "$cmd" --) "
        for option in $("$program" "$cmd" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
            [[ $offered == *" $option "* ]] || { echo "$name $cmd: --help lists $option, completion lacks it"; fail=1; }
        done
    done
done
while IFS='|' read -r expected words; do
    got=$(complete_words $words "")
    [ "$got" = "$expected" ] || { echo "after '$words': got '$got', want '$expected'"; fail=1; }
done <<'CASES'
scan watch doctor known open resolve forget --help --version|nasscout-cli
text json|nasscout-cli doctor --format
table json|nasscout-cli scan --format
text jsonl|nasscout-cli watch --log-dir /tmp --format
text jsonl|nasscout-cli watch --format =
run raw flood --help --version|nasscout-sim
broadcast ssdp|nasscout-sim flood --to 198.51.100.1:67 --protocol
CASES
exit "$fail"
