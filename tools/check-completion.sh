#!/bin/bash
# check-completion.sh COMPLETION: the generated bash completion offers the
# commands, their options and values, and the operations.
source "$1" || exit 1
status=0
# expect "WORD..." CANDIDATE: completing the words (the last one being typed) offers CANDIDATE.
expect() {
    local -a typed=($1)
    [[ $1 == *' ' ]] && typed+=('')
    COMP_WORDS=(quorvex "${typed[@]}")
    COMP_CWORD=${#typed[@]}
    COMPREPLY=()
    _quorvex
    if [[ " ${COMPREPLY[*]} " != *" $2 "* ]]; then
        echo "completing 'quorvex $1' offers '${COMPREPLY[*]}', not '$2'"
        status=1
    fi
}
expect "pro" probe
expect "LeggiP" LeggiPeso_BILANCIAI_D400
expect "--timeout 5 co" coils
expect "coils --" --since
expect "monitor --" --save
expect "probe 3 --apply " Bilancia
expect "coils --since " yesterday
expect "--id 0x6003000" 0x60030002
expect "LeggiLunghezza " true
expect "--w" --watch
exit $status
