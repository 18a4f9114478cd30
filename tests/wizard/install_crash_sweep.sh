#!/usr/bin/env bash
# A crash at every step of an installation (a replaced file, a new one in a new sub-folder, the
# updater's pair): killed before the N-th call of each file system call, for every N, then the
# recovery killed once at its first call of each kind and run for good. Every end: all old or all
# new, none of the installer's files left. Update folder beside the files, and on tmpfs (copies).
# usage: install_crash_sweep.sh INSTALL_PROBE
set -u
probe=${1:?usage: install_crash_sweep.sh INSTALL_PROBE}
command -v strace >/dev/null || { echo "strace is missing (Debian package strace)"; exit 1; }
# shellcheck source=SCRIPTDIR/../support/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
work=$(mktemp -d /tmp/upd-sweep.XXXXXX) || exit 1
shm=$(mktemp -d /dev/shm/upd-sweep.XXXXXX) || exit 1
trap 'rm -rf "$work" "$shm"' EXIT
app=$work/app tpl=$work/tpl
# The application before: the update folder holds the downloads.
mkdir -p "$tpl/app" "$tpl/update/sub"
echo "old a" >"$tpl/app/a.dll" && chmod 640 "$tpl/app/a.dll"
echo "old mover" >"$tpl/app/FileMove.exe"
echo "keep" >"$tpl/app/keep.txt"
echo "new a" >"$tpl/update/a.dll"
echo "new data" >"$tpl/update/sub/new.dat"
printf '#!/bin/sh\necho new\n' >"$tpl/update/update.exe"
echo "new mover" >"$tpl/update/FileMove.exe"
# fresh beside|tmpfs: the application folder as before the installation.
fresh() {
    rm -rf "$app" "${shm:?}"/*
    cp -a "$tpl/app" "$app"
    [[ $1 == beside ]] || ln -s "$shm" "$app/update"
    cp -a "$tpl/update/." "$app/update/"
}
# The folder without its update folder: names, kinds, modes and contents.
state() {
    (cd "$app" && find . -path ./update -prune -o -printf '%p %y %m\n' | sort &&
        find . -path ./update -prune -o -type f -exec md5sum {} + | sort)
}
# The installer's files left behind (a journal, backups, copies).
leftovers() {
    (cd "$app/update/" && find . -name 'install.journal*' -o -name '.install-backup*' -o -name '.upd-*')
    (cd "$app" && find . -path ./update -prune -o -name '.upd-*' -print)
}
# killed SYSCALL N MODE: runs the probe in MODE, killed before the N-th call of SYSCALL: status
# 137 (strace's too; the subshell keeps the shell's "Killed" notice off the output).
killed() {
    (strace -f -o /dev/null -e trace="$1" -e inject="$1":signal=KILL:when="$2" \
        "$probe" "$3" "$app" >/dev/null 2>&1
        exit $?) 2>/dev/null
}
install_calls=(openat write rename link unlink unlinkat mkdir rmdir fsync chmod fchmod lchown
    copy_file_range utimensat)
# The recovery's own changes: renames back, links, removals, and the flushes between them.
recover_calls=(rename link unlink rmdir fsync)
for where in beside tmpfs; do
    fresh $where
    old=$(state)
    "$probe" install "$app" || echo "the installation fails without a kill"
    new=$(state)
    # How often the installation makes each call: that many crash points.
    fresh $where
    strace -f -c -o "$work/counts" "$probe" install "$app" >/dev/null 2>&1
    points=0 started=$SECONDS
    for call in "${install_calls[@]}"; do
        # Columns: % time, seconds, usecs/call, calls, [errors], syscall.
        calls=$(awk -v c="$call" '$NF == c { print $4 }' "$work/counts")
        for ((n = 1; n <= ${calls:-0}; n++)); do
            points=$((points + 1))
            fresh $where
            killed "$call" "$n" install
            for again in "${recover_calls[@]}"; do
                killed "$again" 1 recover
                [[ $? == 137 ]] || break
            done
            "$probe" recover "$app" || echo "recovery failed after $call #$n"
            now=$(state)
            check "$where, killed before $call #$n: all old or all new" yes \
                "$([[ $now == "$old" || $now == "$new" ]] && echo yes || echo no)"
            check "$where, killed before $call #$n: nothing of the installer left" "" "$(leftovers)"
        done
    done
    echo "$where: $points crash points in $((SECONDS - started)) s"
    # A disk that fails a flush (EIO) fails the installation before its commit, never after.
    fsyncs=$(awk '$NF == "fsync" { print $4 }' "$work/counts")
    for ((n = 1; n <= ${fsyncs:-0}; n++)); do
        fresh $where
        strace -f -o /dev/null -e trace=fsync -e inject=fsync:error=EIO:when="$n" \
            "$probe" install "$app" >/dev/null 2>&1
        status=$?
        # The first four are the downloads': those always come before the commit.
        check "$where, fsync #$n fails: failed and all old, or done and all new" yes \
            "$([[ ($status == 1 && $(state) == "$old") ||
                ($status == 0 && $(state) == "$new" && $n -gt 4) ]] && echo yes || echo no)"
    done
done
# Every download flushed before the first rename into the application folder.
fresh beside
strace -f -y -o "$work/trace" -e trace=fsync,rename,renameat,renameat2 "$probe" install "$app"
unsynced=$(awk -v app="$app/" '
    /^[0-9]+ +fsync\(/ { match($0, /<[^>]*>/); synced[substr($0, RSTART + 1, RLENGTH - 2)] = 1 }
    /^[0-9]+ +rename/ {
        n = split($0, q, "\""); to = q[4]
        if (index(to, app) == 1 && index(to, app "update/") != 1 && !done) {
            done = 1
            for (f in wanted) if (!(f in synced)) print f
        }
    }
    BEGIN { split("a.dll sub/new.dat update.exe FileMove.exe", w, " "); for (i in w) wanted[app "update/" w[i]] = 1 }
' "$work/trace")
check "every download is fsynced before the first rename into the folder" "" "$unsynced"
checks_done
