#!/bin/bash
# The bash completions of both programs offer their options, the values of
# kvxinfo's options and the files each argument takes.
# Usage: completion_test.sh COMPLETIONS_DIR
set -u
completions=$1
framework=/usr/share/bash-completion/bash_completion
[[ -r $framework ]] || { echo "bash-completion is not installed"; exit 77; }
source "$framework"
source "$completions/kvxinfo"
source "$completions/dld2vexa"
compopt() { :; }  # only works inside a real completion

scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir dir && touch a.kvx b.png notes.txt gasdet001 gasdet001hm

# Completes the last of the words; prints the candidates sorted on one line.
complete_words() {
    local fn=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

failures=0
check() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    if [[ $got != "$expected" ]]; then
        echo "FAIL: ${*:2}|: expected '$expected', got '$got'"
        failures=$((failures + 1))
    fi
}

check '--keys= ' _kvxinfo kvxinfo --k
check '--format= ' _kvxinfo kvxinfo --f
check 'csv ' _kvxinfo kvxinfo --format c
check 'csv json text ' _kvxinfo kvxinfo --format=
check '- b.png dir ' _kvxinfo kvxinfo --png ''
check 'a.kvx dir ' _kvxinfo kvxinfo -v ''
check '--verbose --version ' _kvxinfo kvxinfo --ver
check '-test ' _dld2vexa dld2vexa +test -t
check '--help --version ' _dld2vexa dld2vexa --
check '.kvx ' _dld2vexa dld2vexa -ext ''
check 'gasdet001 gasdet001hm ' _dld2vexa dld2vexa -ext .dat gas
check '' _dld2vexa dld2vexa gasdet001 ''
check 'gasdet001 gasdet001hm ' _dld2vexa dld2vexa gasdet001 0 1 2 1 gas
check 'gasdet001hm ' _dld2vexa dld2vexa gasdet001 0 1 2 1 out.kvx 1 2 4 3 gasdet001h
exit $((failures > 0))
