#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# completion_test.sh COMPLETION_FILE BIN_DIR
# Drives the completion functions as bash does (COMP_WORDS, COMP_CWORD), against the
# programs of the build and a device folder made up for the test.
set -uo pipefail
completion=$1
PATH="$(cd "$2" && pwd):$PATH"
export PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/dev/serial/by-id" "$work/dev/serial/by-path" "$work/scripts/sub"
touch "$work/dev/ttyS0" "$work/dev/ttyUSB0" "$work/dev/ttyACM1" "$work/dev/tty1" \
    "$work/dev/tty" "$work/dev/null" "$work/dev/serial/by-id/usb-FTDI_FT232R-if00-port0" \
    "$work/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
touch "$work/scripts/a.pf3" "$work/scripts/B.PF3" "$work/scripts/c.Pf3" "$work/scripts/notes.txt"
export REBURN3_COMPLETION_DEV=$work/dev

# shellcheck source=/dev/null
source "$completion"

# complete WORD... : the candidates for the last word, one a line, sorted.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    if [ "$1" = reburn3-gui ]; then _reburn3_gui; else _reburn3; fi
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
    local what=$1 expected=$2 actual=$3
    [ "$actual" = "$expected" ] || fail "$what: expected [$(echo $expected)] got [$(echo $actual)]"
}
expect_has() {
    local what=$1 actual=$2; shift 2
    for word in "$@"; do
        grep -qxF -- "$word" <<<"$actual" || fail "$what: $word missing from [$(echo $actual)]"
    done
}
expect_lacks() {
    local what=$1 actual=$2; shift 2
    for word in "$@"; do
        ! grep -qxF -- "$word" <<<"$actual" || fail "$what: $word should not be offered"
    done
}

# Subcommands: from the program's own list.
expect_has "subcommands" "$(complete_words reburn3 '')" flash check ports simulate
expect "subcommands starting with f" "flash" "$(complete_words reburn3 f)"
expect "subcommands starting with --v" "--version" "$(complete_words reburn3 --v)"

# Options: from the table the command's parser reads, never from help prose.
expect_has "flash options" "$(complete_words reburn3 flash --)" --port --progress --json \
    --trace --repeat --stats --reactive --help
expect "flash --re" "$(printf '%s\n' --reactive --repeat --require-ack --retries --retry-quiet)" "$(complete_words reburn3 flash --re)"
expect_has "check options" "$(complete_words reburn3 check --)" --json --help
expect_lacks "check options" "$(complete_words reburn3 check --)" --port --reactive
expect "progress modes" "$(printf '%s\n' bar none plain)" \
    "$(complete_words reburn3 flash --progress '')"
# "=" forms: one word ("--progress=p") or split at "=" as bash's COMP_WORDBREAKS does.
expect "--progress=p" "--progress=plain" "$(complete_words reburn3 flash --progress=p)"
expect "--progress = " "$(printf '%s\n' bar none plain)" "$(complete_words reburn3 flash --progress =)"
expect "--station=" "$(printf '%s\n' --station=enter --station=replug)" \
    "$(complete_words reburn3 flash --station=)"
expect "--station = r" "replug" "$(complete_words reburn3 flash --station = r)"
expect "--port=C" "$(printf -- '--port=COM%d\n' 1 2 3 4 5 6 7 8)" \
    "$(complete_words reburn3 flash --port=C)"
expect "--port = C" "$(printf 'COM%d\n' 1 2 3 4 5 6 7 8)" "$(complete_words reburn3 flash --port = C)"
expect "--port=by-path" "--port=$work/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0" \
    "$(complete_words reburn3 flash --port="$work/dev/serial/by-p")"
# A word after --station is no value of it (the value only comes after "=").
cd "$work/scripts"
expect "--station SCRIPT" "a.pf3" "$(complete_words reburn3 flash --station a)"
cd - >/dev/null

# --port: COM1-COM8, the serial devices, /dev/serial/by-id; never consoles or null.
ports=$(complete_words reburn3 flash --port '')
expect_has "--port" "$ports" COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 "$work/dev/ttyS0" \
    "$work/dev/ttyUSB0" "$work/dev/ttyACM1" "$work/dev/serial/by-id/usb-FTDI_FT232R-if00-port0" \
    "$work/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
expect_lacks "--port" "$ports" COM9 COM0 "$work/dev/tty1" "$work/dev/tty" "$work/dev/null"
expect "--port COM" "$(printf 'COM%d\n' 1 2 3 4 5 6 7 8)" "$(complete_words reburn3 flash -p COM)"
expect "--port by-id" "$work/dev/serial/by-id/usb-FTDI_FT232R-if00-port0" \
    "$(complete_words reburn3 flash --port "$work/dev/serial/by-i")"

# Scripts: *.pf3 in any case, and folders; not other files.
cd "$work/scripts"
expect "flash SCRIPT" "$(printf '%s\n' B.PF3 a.pf3 c.Pf3 sub)" \
    "$(complete_words reburn3 flash --port COM1 '')"
expect "check SCRIPT" "a.pf3" "$(complete_words reburn3 check a)"
expect "reburn3-gui SCRIPT" "$(printf '%s\n' B.PF3 a.pf3 c.Pf3 sub)" \
    "$(complete_words reburn3-gui '')"
expect "reburn3-gui options" "$(printf '%s\n' --help --version)" "$(complete_words reburn3-gui --)"

# reburn3-sim: its own options (--version too), files for --link and --record, scripts.
expect_has "reburn3-sim options" "$(complete_words reburn3-sim --)" --link --record --stay \
    --boards --version --help
expect_lacks "simulate options" "$(complete_words reburn3 simulate --)" --version --port
expect "reburn3-sim SCRIPT" "$(printf '%s\n' B.PF3 a.pf3 c.Pf3 sub)" "$(complete_words reburn3-sim '')"
expect "reburn3-sim --record" "notes.txt" "$(complete_words reburn3-sim --record n)"

# Every option offered is one its command accepts: given (with a value when it takes
# one) before --help, the command answers the help, not a usage error.
for command in flash check ports simulate sim; do
    if [ $command = sim ]; then words=(reburn3-sim); else words=(reburn3 "$command"); fi
    offered=$(complete_words "${words[@]}" -)
    [ -n "$offered" ] || fail "$command offers no option"
    for option in $offered; do
        [ "$option" = --version ] && continue  # answers itself, as --help does
        case $option in
            *=) given=("${option}enter") ;;
            --port | -p) given=("$option" COM1) ;;
            *)
                kind=$("${words[0]}" __complete ${words[1]:+"${words[1]}"} |
                    awk -v o="$option" '$1 == o { print $2; exit }')
                if [ "$kind" = flag ] || [ "$kind" = optional ]; then given=("$option"); else given=("$option" 1); fi
                ;;
        esac
        out=$("${words[@]}" "${given[@]}" --help 2>&1)
        status=$?
        [ $status -eq 0 ] && [[ $out == Usage:* ]] ||
            fail "$command refuses the offered ${given[*]} (exit $status: $(head -n 1 <<<"$out"))"
    done
done

exit $((failures > 0))
