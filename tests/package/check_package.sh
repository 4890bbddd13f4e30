#!/usr/bin/env bash
# The Debian package from end to end, on a machine where it is not installed (needs root, as in CI): builds
# it (scripts/package.sh), checks its file list and dependencies, installs it with apt-get and upgrades it,
# then, from login shells with an otherwise empty environment, checks the session set-up and streams from
# both cameras with Harvesters (tests/package/stream_both_cameras.py) finding the producer only through
# GENICAM_GENTL64_PATH; removes and purges it and checks that nothing of it is left.
# Usage: tests/package/check_package.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts a failure
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
[ "$(id -u)" -eq 0 ] || { echo "check_package: needs root (installs the package)" >&2; exit 2; }

deb=$(scripts/package.sh | grep -E '\.deb$')
echo "package: $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- Contents ----
producer_dir=/usr/lib/gentl
{
    printf '%s\n' /etc/profile.d/vngtl.sh /usr/bin/vngtl /usr/share/vngtl/vngtl_features.py \
        $producer_dir/VNGTL.cti $producer_dir/libvnsim.so $producer_dir/libclallserial.so \
        /usr/lib/environment.d/90-vngtl.conf /usr/share/user-tmpfiles.d/vngtl.conf \
        /usr/include/vngtl/vnsim.h /usr/share/doc/vngtl/README.md
    for h in include/gentl/*.h; do echo "/usr/include/vngtl/gentl/$(basename "$h")"; done
    for d in docs/*.md; do echo "/usr/share/doc/vngtl/$(basename "$d")"; done
} | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $NF); print $NF}' | sort >"$work/files"
check "the package holds exactly the producer, its libraries, the tool, headers, docs and session set-up" \
    diff -u "$work/expected" "$work/files"
check "the login-shell set-up is a conffile" \
    bash -c "dpkg-deb --ctrl-tarfile '$deb' | tar -xO ./conffiles | grep -qx /etc/profile.d/vngtl.sh"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',' '\n' <<<"$depends" | sed -E 's/^ *([^ (]+).*/\1/' | sort | tr '\n' ' ')
check "the dependencies are the runtime libraries the binaries link" \
    test "$names" = "libc6 libgcc-s1 libminizip1 libpng16-16 libstdc++6 zlib1g "

# ---- Install on a machine without it, touching no other package's file ----
if dpkg-query -W -f='${Status}' vngtl 2>/dev/null | grep -q installed; then
    echo "vngtl was installed before the test; purging it first"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vngtl >/dev/null
fi
owned=$(while read -r f; do dpkg -S "$f" 2>/dev/null || true; done <"$work/expected")
check "no file of the package belongs to another package" test -z "$owned"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$root/$deb" >/dev/null
check "installed" bash -c "dpkg-query -W -f='\${Status}' vngtl | grep -q 'install ok installed'"
check "every file is in place" bash -c "xargs ls -d <'$work/expected' >/dev/null"

# An upgrade to a later version of the same contents replaces it in place.
dpkg-deb -R "$deb" "$work/next"
version=$(dpkg-deb -f "$deb" Version)
sed -i "s/^Version: .*/Version: $version.1/" "$work/next/DEBIAN/control"
dpkg-deb -b --root-owner-group "$work/next" "$work/next.deb" >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$work/next.deb" >/dev/null
check "upgraded" test "$(dpkg-query -W -f='${Version}' vngtl)" = "$version.1"

# ---- Sessions: a login shell of an empty environment ----
home=$work/home
mkdir -p "$home"
shell() {  # shell [VAR=value...] COMMAND
    local vars=("${@:1:$#-1}")
    env -i HOME="$home" USER=root LOGNAME=root SHELL=/bin/bash "${vars[@]}" bash -l -c "${!#}" 2>&1
}
check "vngtl is on the PATH" test "$(shell 'command -v vngtl')" = /usr/bin/vngtl
check "the producer's folder is the search path" \
    test "$(shell 'echo "$GENICAM_GENTL64_PATH"')" = "$producer_dir"
check "an existing search path is kept and the producer's folder appended" \
    test "$(shell GENICAM_GENTL64_PATH=/opt/other 'echo "$GENICAM_GENTL64_PATH"')" = "/opt/other:$producer_dir"
check "a search path that has the folder already is left as it is" \
    test "$(shell GENICAM_GENTL64_PATH=$producer_dir:/opt/other 'echo "$GENICAM_GENTL64_PATH"')" \
        = "$producer_dir:/opt/other"
check "a cache folder the user set is kept" \
    test "$(shell GENICAM_CACHE_V2_4=/srv/xml 'echo "$GENICAM_CACHE_V2_4"')" = /srv/xml
generator=/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator
if [ -x "$generator" ]; then
    check "desktop sessions (environment.d) get the same search path and cache folder" \
        test "$(env -i HOME="$home" GENICAM_GENTL64_PATH=/opt/other "$generator" | grep '^GENICAM_' | sort | tr '\n' ' ')" \
            = "GENICAM_CACHE_V2_4=$home/.cache/genicam-xml GENICAM_GENTL64_PATH=/opt/other:$producer_dir "
fi
rm -rf "$home/.cache"
check "the per-user cache folder is named and created on first use" \
    test "$(shell 'echo "$GENICAM_CACHE_V2_4"; test -d "$GENICAM_CACHE_V2_4" && echo made')" \
        = "$home/.cache/genicam-xml"$'\n'made
stream() { shell "$root/.venv/bin/python $root/tests/package/stream_both_cameras.py"; }
check "Harvesters streams from both cameras through the search path, the XML landing in the per-user cache" \
    stream

# ---- Remove, then purge ----
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vngtl >/dev/null
check "after removal only the login-shell conffile stays" \
    bash -c "comm -23 '$work/expected' <(printf '%s\n' /etc/profile.d/vngtl.sh) | xargs -r ls -d 2>/dev/null | (! grep .)"
check "and it no longer sets anything" \
    test "$(shell 'echo "${GENICAM_GENTL64_PATH:-unset} ${GENICAM_CACHE_V2_4:-unset}"')" = "unset unset"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vngtl >/dev/null
check "after purging nothing of the package is left" \
    bash -c "xargs -r ls -d <'$work/expected' 2>/dev/null | (! grep .) &&
             ! ls -d $producer_dir /usr/include/vngtl /usr/share/doc/vngtl /usr/share/vngtl 2>/dev/null &&
             ! dpkg-query -W vngtl >/dev/null 2>&1"

echo "package: $failures failed"
[ "$failures" -eq 0 ]
