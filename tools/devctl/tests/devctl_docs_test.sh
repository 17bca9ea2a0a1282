#!/usr/bin/env bash
# The bash completion and the manual page made from devctl's help: the words
# offered after what is typed, and every verb of devctl's help in both.
# Usage: devctl_docs_test.sh DEVCTL COMPLETION MANPAGE_GZ
set -uo pipefail
devctl=$1 completion=$2 manpage=$3
failures=0

# shellcheck source=/dev/null
source "$completion"

# What Tab offers after LINE (words split at spaces; a trailing space starts
# a new, empty word).
complete_line() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _devctl
    echo "${COMPREPLY[*]}"
}

# line | words that must be offered, all of them | words that must not be
cases=(
    "devctl bat|battery|backlight"
    "devctl battery |set --json --help|battery reg"
    "devctl battery s|set|--json"
    "devctl battery --json s|set|"
    "devctl reg |get set delete list|battery"
    "devctl reg g|get|set"
    "devctl reg get --|--json --help|--string"
    "devctl reg set --|--string|--json"
    "devctl reg get HKLM\\\\Software |--json|get set"
    "devctl gps |position route start block unblock sky serve ttff --json|reg"
    "devctl gps serve --|--seed --speed --almanac --utc --replay --json|--runs"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r line wanted unwanted <<<"$entry"
    offered=" $(complete_line "$line") "
    for w in $wanted; do
        [[ $offered == *" $w "* ]] || { echo "\"$line\": \"$w\" not offered (offered:$offered)"; failures=$((failures + 1)); }
    done
    for w in $unwanted; do
        [[ $offered != *" $w "* ]] || { echo "\"$line\": \"$w\" offered"; failures=$((failures + 1)); }
    done
done

# Every verb that devctl's help lists is offered first and has its section
# in the manual page.
verbs=$("$devctl" --help | awk '/^Subcommands:$/ { on = 1; next } /^$/ { on = 0 } on { print $1 }')
[ -n "$verbs" ] || { echo "devctl --help lists no verbs"; failures=$((failures + 1)); }
top=" $(complete_line "devctl ") "
page=$(zcat "$manpage")
for verb in $verbs; do
    [[ $top == *" $verb "* ]] || { echo "verb $verb not offered"; failures=$((failures + 1)); }
    grep -qx ".SS \"devctl $verb\"" <<<"$page" || { echo "verb $verb not in the manual page"; failures=$((failures + 1)); }
done

[ $failures -eq 0 ] && echo "all passed"
exit $((failures > 0))
