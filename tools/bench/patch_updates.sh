#!/usr/bin/env bash
# Patched updates on a far link: `update-wizard --auto` takes an application folder from release
# A to release B through latency_relay in front of nginx, 25 ms each way, against three server
# sets of B made with `updtool make-ini`: the whole files, the files compressed (--compress), and
# patches against A besides (--base A --compress). A: the demo's old programs (tools/demo:
# Main.exe, plugins/Report.dll) and data/catalog.bin, 4 MiB of random bytes; B: the demo's new
# programs and that data file with 1 % of its bytes changed in four places (its length kept).
# For each set: the bytes the run fetched (nginx's log of its requests; update.ini left out), the
# run's time, and the time to apply what it fetched compressed or patched (patch_apply_bench on
# A's files). Targets: the patches fetch at most a tenth of the whole files' bytes, and applying
# costs less than the time the bytes it saves take on a 10 Mbit/s link. Every run starts from a
# fresh copy of the application folder, must leave B's files in it, and, on the patch set, must
# not fall back to another form. All in tmpfs. It reports; a missed target is not a failure.
# Exit status 1 only when a run fails or its files differ.
#
# usage: bash tools/bench/patch_updates.sh [--short] [BUILD_DIR]   (as root: nginx's workers run
# as nobody); it builds the demo's programs first (cmake --build BUILD_DIR --target
# demo_programs). --short: one run per set and a 2 MiB data file: the form the test command runs.
set -u -o pipefail
umask 022
short=0
[[ ${1:-} == --short ]] && short=1 && shift
build=${1:-build}
wizard=$build/app/update-wizard updtool=$build/tools/updtool/updtool
relay=$build/tools/bench/latency_relay apply_bench=$build/tools/bench/patch_apply_bench
demo=$build/tools/demo
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/peers/peers.sh"

die() {
    printf 'patch_updates: %s\n' "$@" >&2
    exit 1
}
for program in "$wizard" "$updtool" "$relay" "$apply_bench"; do
    [[ -x $program ]] || die "$program is not an executable program (build $build first)"
done
((EUID == 0)) || die "needs root: nginx's workers switch to nobody"
for need in nginx:nginx-light cmake:cmake ss:iproute2; do
    command -v "${need%:*}" >/dev/null || die "${need%:*} is missing (Debian package ${need#*:})"
done
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen

one_way_ms=25 runs=3 mib=4 places=4 link_mbit=10
((short)) && runs=1 mib=2
sets=(whole compressed patches)
names=(Main.exe plugins/Report.dll data/catalog.bin)
peers_scratch patch || exit 1
www=$PEERS_DIR/www work=$PEERS_DIR/work
release_a=$work/release-a release_b=$work/release-b
mkdir -p "$www" "$work/tmp" || exit 1
# The wizard's single-instance lock and every temporary file (patch_apply_bench's results
# too) kept inside this run, in tmpfs.
export XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The demo's two releases: quick, and left out of the run time.
cmake --build "$build" --target demo_programs >"$work/demo.log" 2>&1 ||
    die "the demo's programs did not build: $(tail -n 5 "$work/demo.log")"
started=$SECONDS

# A and B. The data file is compared by date: A's is older than the one B announces.
for release in a b; do
    from=$demo/old folder=$release_a
    [[ $release == b ]] && from=$demo/new folder=$release_b
    { mkdir -p "$folder/plugins" "$folder/data" && cp "$from/Main.exe" "$folder/Main.exe" &&
        cp "$from/plugins/Report.dll" "$folder/plugins/Report.dll"; } ||
        die "the demo's programs are not in $from"
done
catalog=data/catalog.bin
head -c $((mib << 20)) /dev/urandom >"$release_a/$catalog" || exit 1
cp "$release_a/$catalog" "$release_b/$catalog" || exit 1
# 1 % of the bytes, in $places runs spread over the file: what a patch must carry; the rest it
# takes from the installed file.
bytes=$((mib << 20)) piece=$(((mib << 20) / 100 / places))
for ((k = 0; k < places; k++)); do
    head -c "$piece" /dev/urandom | dd of="$release_b/$catalog" bs="$piece" count=1 \
        iflag=fullblock seek=$(((2 * k + 1) * bytes / (2 * places))) oflag=seek_bytes \
        conv=notrunc status=none || die "cannot change $catalog"
done
touch -d "2025-06-01 09:00:00" "$release_a/$catalog"
touch -d "2025-09-01 09:00:00" "$release_b/$catalog"

# The three sets, each a copy of B in which make-ini writes its forms beside the files; it runs
# before the update folder exists, so that its update.ini is not part of the set.
for set in "${sets[@]}"; do
    options=()
    [[ $set == compressed ]] && options=(--compress)
    [[ $set == patches ]] && options=(--base "$release_a" --compress)
    { cp -a "$release_b" "$www/$set" &&
        "$updtool" make-ini "$www/$set" "${options[@]}" -o "$work/update.ini" --ver 2.1 \
            >"$work/make-ini.log" 2>&1 &&
        mkdir -p "$www/$set/update" && mv "$work/update.ini" "$www/$set/update/update.ini"; } ||
        die "updtool make-ini $set failed: $(tail -n 3 "$work/make-ini.log")"
done
chmod -R a+rX "$www"

# nginx on http, logging each request as "STATUS BODY_BYTES URI"; a relay in front of it.
sent_conf() { # DIR ROOT
    nginx_write "$1" bench bench "  log_format sent '\$status \$body_bytes_sent \$uri';
  server {
$(nginx_listen "${PEER_PORTS[0]}")
    root $2;
    access_log $1/sent.log sent;
  }"
    PEER_V6=$PEERS_IPV6
}
peers_start nginx 1 sent_conf "$www" || die "nginx did not start"
http_port=${PEER_PORTS[0]} sent=$PEERS_DIR/nginx/sent.log
relay_conf() { # DIR TARGET_PORT
    PEER_CMD=("$relay" --to "127.0.0.1:$2" --one-way-ms "$one_way_ms"
        --listen-port "${PEER_PORTS[0]}")
}
peers_start relay 1 relay_conf "$http_port" || die "the relay did not start"
far=http://127.0.0.1:${PEER_PORTS[0]}

# The application folders, one per set: release A, the wizard and its update.svr.
for set in "${sets[@]}"; do
    app=$work/app-$set
    { mkdir -p "$app" && cp -a "$release_a/." "$app/" && cp "$wizard" "$app/update-wizard"; } ||
        die "cannot make $app"
    "$updtool" server-line "Far server" "$far/$set/" "update/update.ini" EN >"$app/update.svr" ||
        die "updtool server-line failed"
done

# same FOLDER: B's files arrived whole in FOLDER.
same() {
    local name
    for name in "${names[@]}"; do cmp -s "$release_b/$name" "$1/$name" || return 1; done
}
# wizard_run SET: the unattended run from a fresh copy of the set's folder; appends its wall
# time (seconds) to $work/time-SET and the bytes it fetched to $work/bytes-SET, and writes the
# compressed files and patches it fetched to $work/forms-SET. Its output is in $work/log.
TIMEFORMAT=%3R
wizard_run() {
    local set=$1 app=$work/app from status
    { rm -rf "$app" && cp -a "$work/app-$set" "$app"; } || die "cannot copy the application folder"
    from=$(stat -c %s "$sent") || die "nginx's log is missing"
    { time timeout 120 "$app/update-wizard" --auto >"$work/log" 2>&1; } 2>"$work/time"
    status=$?
    ((status == 0)) ||
        die "the wizard failed with status $status ($set):" "$(tail -n 5 "$work/log")"
    same "$app" || die "the files in the application folder differ from release B ($set)"
    if [[ $set == patches ]] && grep -q '^fallback:' "$work/log"; then
        die "a patch was not taken:" "$(grep '^fallback:' "$work/log")"
    fi
    cat "$work/time" >>"$work/time-$set"
    # nginx logs a request once its last byte is with the kernel: before the relay hands it on.
    tail -c +$((from + 1)) "$sent" | awk -v at="/$set/" -v forms="$work/forms-$set" '
        index($3, at) != 1 || index($3, at "update/") == 1 { next }
        { bytes += $2 }
        $1 == 200 && $3 ~ /\.(zst|zpatch)$/ { print substr($3, length(at) + 1) > forms }
        END { print bytes + 0 }' >>"$work/bytes-$set"
}
median() { sort -g "$work/$1" | sed -n "$(((runs + 1) / 2))p"; }
# apply SET: "BYTES SECONDS NUMBER" of applying what SET's last run fetched in a smaller form,
# "0 0 0" when it fetched none.
apply() {
    local set=$1 form name base arguments=()
    while IFS= read -r form; do
        if [[ $form =~ ^(.+)\.[0-9a-f]{16}\.zpatch$ ]]; then
            name=${BASH_REMATCH[1]} base=$release_a/${BASH_REMATCH[1]}
        else
            name=${form%.zst} base=""
        fi
        [[ -f $release_b/$name ]] || die "$set: the run fetched $form, of no file of B"
        arguments+=("$base" "$www/$set/$form" "$(stat -c %s "$release_b/$name")")
    done < <(sort -u "$work/forms-$set")
    if ((${#arguments[@]} == 0)); then
        echo "0 0 0"
        return
    fi
    local figures
    figures=$("$apply_bench" "${arguments[@]}") || die "patch_apply_bench failed on $set's forms"
    echo "$figures $((${#arguments[@]} / 3))"
}

each="median of $runs alternated runs"
((runs > 1)) || each="one run each"
echo "update-wizard --auto from release A to B, through a relay of $one_way_ms ms each way;" \
    "$each; tmpfs; loopback"
echo "A: the demo's old programs and $catalog, $mib MiB of random bytes; B: the new programs" \
    "and $catalog with 1 % of its bytes changed in $places places"
for ((run = 0; run < runs; run++)); do
    for set in "${sets[@]}"; do
        : >"$work/forms-$set"
        wizard_run "$set"
    done
done
for set in "${sets[@]}"; do
    figures=$(apply "$set") || exit 1
    echo "$set $(median "bytes-$set") $(median "time-$set") $figures"
done >"$work/table"
awk -v mbit="$link_mbit" '
    { bytes[$1] = $2; run[$1] = $3; applied[$1] = $4; apply[$1] = $5; forms[$1] = $6 }
    function saved(set) { return (bytes["whole"] - bytes[set]) * 8 / (mbit * 1e6) }
    function line(set, format) {
        format = "%-10s %9d bytes fetched (%5.1f %% of the whole set), run %.3f s"
        if (forms[set] == 0) {
            format = format ", nothing to apply\n"
            printf format, set, bytes[set], 100 * bytes[set] / bytes["whole"], run[set]
            return
        }
        format = format ", applying %d forms into %d bytes %.1f ms, saving %.3f s at %d Mbit/s\n"
        printf format, set, bytes[set], 100 * bytes[set] / bytes["whole"], run[set], forms[set],
            applied[set], 1000 * apply[set], saved(set), mbit
    }
    function target(text, met) {
        total++
        if (!met) misses++
        return text (met ? "" : " MISSED")
    }
    function applying(set, what) {
        return target(sprintf("applying %s %.1f ms < the %.3f s saved at %d Mbit/s", what,
            1000 * apply[set], saved(set), mbit), apply[set] < saved(set))
    }
    END {
        line("whole")
        line("compressed")
        line("patches")
        share = bytes["patches"] / bytes["whole"]
        verdict = target(sprintf("patches fetch %.1f %% of the whole set (target <= 10 %%)",
            100 * share), share <= 0.1)
        verdict = verdict "; " applying("patches", "the patches")
        if (forms["compressed"] > 0)
            verdict = verdict "; " applying("compressed", "the compressed files")
        printf "verdict: %d of %d targets missed: %s\n", misses, total, verdict
    }' "$work/table"
echo "run time: $((SECONDS - started)) s"
