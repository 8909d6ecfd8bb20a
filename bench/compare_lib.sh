# Shell functions the bench/compare_*.sh scripts share; sourced, never run.
# Plain POSIX sh, so that the sh and the bash scripts can both source it.

# A scratch folder in $work, removed when the script exits.
make_work_dir() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
}

# Stops the script unless every program named is on the path.
need_tools() {
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "$tool is missing (tools/deps.sh installs it)"; exit 1; }
    done
}

# $KXOP from the build folder given (default build/release); stops the
# script without it or without /usr/bin/time.
need_kxop() {
    KXOP=${1:-build/release}/bin/kxop
    [ -x "$KXOP" ] || { echo "no $KXOP: build with -DCMAKE_BUILD_TYPE=Release first" >&2; exit 1; }
    [ -x /usr/bin/time ] || { echo "no /usr/bin/time: install the package time" >&2; exit 1; }
}

now() { date +%s.%N; }

# Wall time of a command, best of three, in milliseconds, and its peak
# resident memory (the largest of its processes, highest of the runs) in
# MB, left in $ms and $mb.
best() {
    ms=""; kb=0
    for i in 1 2 3; do
        t0=$(now); /usr/bin/time -f %M -o "$work/mem" sh -c "$1" >/dev/null 2>&1; t1=$(now)
        t=$(echo "($t1 - $t0) * 1000" | bc -l)
        if [ -z "$ms" ] || [ "$(echo "$t < $ms" | bc -l)" = 1 ]; then ms=$t; fi
        k=$(tail -n 1 "$work/mem")
        [ "$k" -gt "$kb" ] && kb=$k
    done
    mb=$(echo "$kb / 1024" | bc -l)
}

# One line: name, our command, tool name, tool command; the name column is
# $name_width wide.
compare() {
    best "$2"; ours=$ms; ourmb=$mb
    best "$4"; theirs=$ms; theirmb=$mb
    printf "%-${name_width}s %-12s ours %8.1f ms %6.1f MB  theirs %8.1f ms %6.1f MB  ratio %5.2f\n" "$1" "$3" "$ours" "$ourmb" "$theirs" "$theirmb" \
        "$(echo "$ours / $theirs" | bc -l)"
}

# Median of three runs of a shell command, in milliseconds.
time_ms() {
    for i in 1 2 3; do
        s=$(date +%s%N); bash -c "$1" > /dev/null 2>&1; e=$(date +%s%N)
        echo $(( (e - s) / 1000000 ))
    done | sort -n | sed -n 2p
}

# Our time in milliseconds for a benchmark name, from the "name ms" lines
# in $ours.
our_ms() { printf '%s\n' "$ours" | awk -v f="$1" '$1 == f { printf "%d", $2 }'; }
