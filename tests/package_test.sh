#!/usr/bin/env bash
# The Debian package, as a user gets it: made with cpack from the build tree
# given as $1, passed by lintian, installed with dpkg into a scratch root and
# purged from it again. The program runs from there, its sound kit lies where
# it looks (beside its own directory), the manual renders without warnings,
# the version is one in the program, the package and its changelog, and the
# package names the Debian packages the program needs.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "package: $*" >&2; exit 1; }
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
deb=$(ls "$scratch"/out/kalimbro_*.deb)

# Errors are what Debian refuses a package for; warnings and the rest are
# shown. lintian warns on stderr that it runs as root; that is not a finding.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup installs it)"
findings=$(lintian --fail-on error "$deb" 2>&1) && status=0 || status=$?
findings=$(grep -v 'running with root privileges' <<<"$findings" || true)
((status == 0)) || fail "lintian exit $status: $findings"
[[ -z $findings ]] || echo "$findings"

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libasound2 libespeak-ng1 libspeechd2 libbrlapi0.8 libsndfile1; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *lame* && $recommends == *sox* && $recommends == *ffmpeg* ]] ||
  fail "Recommends lacks lame, sox or ffmpeg: $recommends"

# A root of its own: dpkg needs only its database there. The libraries the
# package depends on are this machine's, outside that root.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
in_root() {
  dpkg --root="$root" --log=/dev/null --force-not-root --force-depends --force-script-chrootless "$@" \
    >"$scratch/dpkg.log" 2>&1 || fail "dpkg $*: $(cat "$scratch/dpkg.log")"
}
in_root --install "$deb"

program="$root/usr/bin/kalimbro"
[[ $("$program" --version </dev/null) == "kalimbro $version" ]] || fail "--version: $("$program" --version)"
changelog="$root/usr/share/doc/kalimbro/changelog.gz"
[[ $(zcat "$changelog" | dpkg-parsechangelog -l - -S Version) == "$version" ]] ||
  fail "changelog is not of version $version: $(zcat "$changelog" | head -1)"

# The program looks for its recordings at its own directory/../share.
kit="$(dirname "$program")/../share/varelu/som"
[[ -s $kit/kalimbro/KLMENU.wav ]] || fail "no recorded menu sound in $kit/kalimbro"
[[ -n $(ls "$kit/letras") ]] || fail "no letter sounds in $kit/letras"

manual="$root/usr/share/man/man1/kalimbro.1.gz"
[[ -s $manual ]] || fail "no manual"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "manual warnings: $warnings"
[[ -s $root/usr/share/doc/kalimbro/README.md ]] || fail "no README"

in_root --purge kalimbro
left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
[[ -z $left ]] || fail "purge left behind: $left"
echo "package: $(basename "$deb") ok"
