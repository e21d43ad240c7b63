# Helpers of the CI checks that run the program as the operator does and
# compare what it wrote byte for byte. Sourced by the scripts beside it.
#
# Texts are given here in UTF-8 and converted for the comparison: the
# console gets code page 866, the logs get Windows-1251 with CR LF.

# fail MESSAGE: ends the check with a message on stderr.
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# encoded CODEPAGE TEXT [crlf]: TEXT (UTF-8, printf %b escapes) in CODEPAGE,
# with every LF written as CR LF when the third argument is `crlf`.
encoded() {
    if [ "${3:-}" = crlf ]; then
        printf '%b' "$2" | perl -pe 's/\n/\r\n/g' | iconv -f UTF-8 -t "$1"
    else
        printf '%b' "$2" | iconv -f UTF-8 -t "$1"
    fi
}

# show FILE CODEPAGE: the last lines of a file, readable here, after a failure.
show() {
    echo "---- last lines of $1:" >&2
    tail -n 15 "$1" | iconv -f "$2" -t UTF-8 >&2 || true
    echo "----" >&2
}

# expect_end FILE CODEPAGE TEXT [crlf]: FILE ends with exactly these bytes.
expect_end() { expect_edge tail end "$@"; }

# expect_start FILE CODEPAGE TEXT [crlf]: FILE starts with exactly these bytes.
expect_start() { expect_edge head start "$@"; }

# expect_edge CUT WORD FILE CODEPAGE TEXT [crlf]: the bytes CUT (head or
# tail) takes from FILE are exactly these; WORD (start or end) names the
# edge in the failure.
expect_edge() {
    local cut=$1 word=$2
    shift 2
    local want
    want=$(mktemp)
    encoded "$2" "$3" "${4:-}" >"$want"
    local n
    n=$(stat -c %s "$want")
    if ! "$cut" -c "$n" "$1" | cmp -s - "$want"; then
        rm -f "$want"
        show "$1" "$2"
        fail "$1 does not $word with '$3' in $2${4:+ with CR LF}"
    fi
    rm -f "$want"
}

# expect_status WHAT GOT WANT
expect_status() {
    [ "$2" -eq "$3" ] || fail "$1: exit status $2, expected $3"
}

# healthy_selection STATION: a short selection, the host exchange test and
# the internal links only.
healthy_selection() {
    printf '%s\r\n' '; CI: host exchange and internal links only' \
        '[HOST START]' 'CHECK=1' '[HOST END]' \
        '[INTLINKS START]' 'CHECK=1' '[INTLINKS END]' >"$1/check1.cfg"
}

# Where an install puts the station template, under its prefix.
template=share/zorvantik-test/station

# expect_template PREFIX: the installed station template holds the files of
# station/ in git, placeholders left out, and nothing else.
expect_template() {
    local want got
    want=$(git ls-files station | sed 's|^station/||' | grep -v -e '^\.keep$' -e '/\.keep$' | sort)
    got=$(cd "$1/$template" && find . -type f | sed 's|^\./||' | sort)
    [ "$want" = "$got" ] || {
        diff <(echo "$want") <(echo "$got") >&2 || true
        fail "the installed station template differs from station/"
    }
}

# expect_healthy_run STATION: the run's status and both logs' verdict.
expect_healthy_run() {
    expect_status "healthy run" "$status" 0
    expect_end "$1/protoc1.log" CP1251 "$VERDICT_OK" crlf
    expect_end "$1/screen1.log" CP1251 "$VERDICT_OK" crlf
}

# The texts the checks look for.
VERDICT_OK='\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++'
INIT_FAILED='\n### ОШИБКА: Не могу инициализировать модуль.'

# wine_prefix DIR: a fresh Wine configuration in DIR for the wine_run calls
# that follow. Wine runs in the Russian locale, so that the console's OEM
# code page is 866 and the ANSI one 1251, as on the bench PC; it takes the
# code pages from the locale's name, so the glibc locale itself need not be
# installed. Wine's own messages are switched off; what it still says goes
# to a file.
wine_prefix() {
    export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
    mkdir -p "$WINEPREFIX"
    wine_started=1
    env LC_ALL=ru_RU.UTF-8 wineboot -i >"$WINEPREFIX.boot.log" 2>&1 ||
        { cat "$WINEPREFIX.boot.log" >&2; fail "wineboot"; }
    wineserver -w
}

# wine_stop: ends the Wine server of the configuration wine_prefix made.
wine_stop() {
    if [ -n "${wine_started:-}" ]; then wineserver -k 2>/dev/null || true; fi
}

# wine_run STATION EXE [ARGS...]: runs EXE in STATION with no keyboard
# (stdin from /dev/null); the console goes to STATION/console.out, stderr to
# STATION/stderr.out. Sets $status.
wine_run() {
    local station=$1 exe=$2
    shift 2
    status=0
    (cd "$station" && exec env LC_ALL=ru_RU.UTF-8 wine "$exe" "$@" </dev/null >console.out 2>stderr.out) ||
        status=$?
}
