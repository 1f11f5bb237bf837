#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the Debian source and binary packages from a fresh clone of this repository's
# HEAD, checks them with lintian (--pedantic: no error, no warning), installs them with apt-get, runs the installed programs (--version, the
# man pages, a complete download into the simulated device), removes them and checks that
# nothing they installed is left behind. Installs what it needs first, like bootstrap.sh.
#
#   scripts/package.sh            the packages land in ./dist: the .changes and every file it
#                                 names (source, .debs, debug symbols, .buildinfo), nothing else
#   PACKAGE_CHECK=1 scripts/package.sh    also run the package build's own tests
#
# Exits non-zero on any failure, including a lintian error.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

scripts/bootstrap.sh package

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

dist=${PACKAGE_DIST_DIR:-$source_dir/dist}
. scripts/lib/simulator_cleanup.sh
work=$(mktemp -d)

say() { echo "package: $*"; }
die() {
    echo "package: FAILED: $*" >&2
    exit 1
}

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    say "note: uncommitted changes are not in the package (it is built from HEAD)"
fi
say "cloning HEAD into $work/reburn3"
git clone --quiet --no-hardlinks "$source_dir" "$work/reburn3"
cd "$work/reburn3"

# The one version number is project(VERSION) in CMakeLists.txt; the package follows it.
version=$(sed -n 's/^project(reburn3 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || die "no project(VERSION) in CMakeLists.txt"
changelog_version=$(dpkg-parsechangelog -S Version)
if [ "$changelog_version" != "$version" ]; then
    say "debian/changelog is at $changelog_version: adding an entry for $version"
    {
        echo "reburn3 ($version) unstable; urgency=medium"
        echo
        echo "  * Version $version (commit $(git rev-parse --short=7 HEAD))."
        echo
        echo " -- $(dpkg-parsechangelog -S Maintainer)  $(date -R)"
        echo
        cat debian/changelog
    } >debian/changelog.new
    mv debian/changelog.new debian/changelog
fi

build_options="parallel=$(nproc)"
profiles=""
if [ "${PACKAGE_CHECK:-0}" != 1 ]; then
    # scripts/test.sh runs the whole suite; the package build need not run it again.
    build_options="$build_options nocheck"
    profiles=nocheck
fi
say "building the source and binary packages (dpkg-buildpackage, DEB_BUILD_OPTIONS=$build_options)"
start=$(date +%s)
DEB_BUILD_OPTIONS=$build_options DEB_BUILD_PROFILES=$profiles \
    dpkg-buildpackage -us -uc >"$work/build.log" 2>&1 ||
    { tail -n 60 "$work/build.log" >&2; die "dpkg-buildpackage"; }
say "built in $(($(date +%s) - start)) s"

# dist holds one set that belongs together: the .changes and exactly the files it names.
cd "$work"
changes=$(ls reburn3_"$version"_*.changes)
mapfile -t named < <(awk '/^Files:/ { inside = 1; next } /^[^ ]/ { inside = 0 } inside { print $5 }' "$changes")
[ "${#named[@]}" -gt 0 ] || die "$changes names no files"
mkdir -p "$dist"
rm -f "$dist"/reburn3*_"$version"* "$dist"/reburn3*.changes "$dist"/reburn3*.deb \
    "$dist"/reburn3*.dsc "$dist"/reburn3*.tar.* "$dist"/reburn3*.buildinfo
cp "$changes" "${named[@]}" "$dist"/
say "dist: $(cd "$dist" && ls | tr '\n' ' ')"
deb=$(ls "$dist"/reburn3_"$version"_*.deb)
gui_deb=$(ls "$dist"/reburn3-gui_"$version"_*.deb)
for f in "$deb" "$gui_deb"; do
    say "$(basename "$f"): $(dpkg-deb -f "$f" Depends)"
done

# The .changes takes lintian to the source package and every binary package; the tags that
# remain are explained in docs/packaging.md.
say "lintian --pedantic"
lintian --pedantic --fail-on error,warning --display-info "$dist/$(basename "$changes")" |
    tee "$work/lintian.txt" || die "lintian reports errors or warnings"

# What is there before, to check afterwards that the packages leave nothing behind.
dpkg-query -W -f='${Package}\n' | sort >"$work/packages.before"

say "installing with apt-get"
cd "$dist"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    "./$(basename "$deb")" "./$(basename "$gui_deb")" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; die "apt-get install"; }
cd "$work"
dpkg-query -W -f='${Package}\n' | sort >"$work/packages.installed"
dpkg -L reburn3 reburn3-gui | sort -u >"$work/files"

say "running the installed programs"
[ "$(command -v reburn3)" = /usr/bin/reburn3 ] || die "reburn3 is not /usr/bin/reburn3"
/usr/bin/reburn3 --version | tee "$work/version.txt"
grep -qE "^reburn3 ${version//./\\.} \\(commit [0-9a-f]{7}\\) Qt 6\\." "$work/version.txt" ||
    die "reburn3 --version does not show version $version, the commit and Qt"
env -u DISPLAY /usr/bin/reburn3-gui --version | grep -q "^reburn3-gui $version " ||
    die "reburn3-gui --version"
for page in reburn3 reburn3-gui reburn3-sim; do
    man -w "$page" || die "man -w $page finds nothing"
done
MANWIDTH=80 man reburn3 2>/dev/null | grep -q "reburn3 flash" || die "man reburn3 has no flash"
for completion in reburn3 reburn3-gui; do
    [ -f "/usr/share/bash-completion/completions/$completion" ] ||
        die "no bash completion for $completion"
done
# The documents are where the unit's Documentation= and serve --help name them, whole.
for doc in serve.md line-controllers.md command-line.md reburn3-json.schema.json \
    reburn3-serve.schema.json examples/serve-line1.conf; do
    [ -f "/usr/share/doc/reburn3/$doc" ] || die "/usr/share/doc/reburn3/$doc is not installed"
done
head -n 1 /usr/share/doc/reburn3/README.md | grep -qx '# reburn3' ||
    die "/usr/share/doc/reburn3/README.md is not the project's README.md"
for unit in reburn3-serve.service reburn3-serve@.service; do
    [ -f "/lib/systemd/system/$unit" ] || die "the unit $unit is not installed"
done
for kit in prometheus/reburn3-alerts.yml grafana/reburn3-fleet.json; do
    [ -f "/usr/share/reburn3/$kit" ] || die "/usr/share/reburn3/$kit is not installed"
done
desktop-file-validate /usr/share/applications/reburn3-gui.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.reburn3.reburn3_gui.metainfo.xml

script=/usr/share/doc/reburn3/examples/orx716_demo.pf3
if [ ! -f "$script" ] && [ -f "$script.gz" ]; then
    zcat "$script.gz" >"$work/orx716_demo.pf3"
    script=$work/orx716_demo.pf3
fi
[ -f "$script" ] || die "the example script is not installed"
/usr/bin/reburn3 simulate "$script" --lifetime 120 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=""
for _ in $(seq 1 100); do
    port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    [ -n "$port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$port" ] || { cat "$work/sim.err" >&2; die "the installed simulator did not start"; }
say "/usr/bin/reburn3 flash --port $port $script"
status=0
/usr/bin/reburn3 flash --port "$port" --progress=none "$script" >"$work/flash.out" 2>"$work/flash.err" ||
    status=$?
[ "$status" -eq 0 ] || { cat "$work/flash.err" >&2; die "the download failed with exit code $status"; }
grep -qxF "Processing complete.  Exit this application." "$work/flash.out" ||
    die "the download did not complete"
wait "$sim_pid" || true
sim_pid=""
say "the download completed through the installed programs"

say "removing the packages"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get purge -y -qq reburn3 reburn3-gui \
    >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; die "apt-get purge"; }
# Packages apt pulled in only for these two go as well; nothing else is touched.
pulled_in=$(comm -13 "$work/packages.before" "$work/packages.installed" |
    grep -vxE 'reburn3|reburn3-gui' || true)
if [ -n "$pulled_in" ]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get purge -y -qq $pulled_in >/dev/null
fi
dpkg-query -W -f='${Package}\n' | sort >"$work/packages.after"
cmp -s "$work/packages.before" "$work/packages.after" ||
    die "the installed packages differ from before: $(diff "$work/packages.before" "$work/packages.after" | tr '\n' ' ')"
left=""
while IFS= read -r path; do
    # Only what the packages own: not the shared folders they install into.
    if [ -e "$path" ] && [ ! -d "$path" ]; then
        left="$left $path"
    fi
    if [ -d "$path" ] && [[ $path == */reburn3* ]]; then
        left="$left $path/"
    fi
done <"$work/files"
[ -z "$left" ] || die "left behind:$left"
say "nothing left behind"
say "OK: $(basename "$deb") $(basename "$gui_deb") in $dist"
