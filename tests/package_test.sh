#!/usr/bin/env bash
# The Debian package, as a user gets it: made with cpack from the build tree
# given as $1, unpacked with dpkg -x into a scratch root. The program runs
# from there, its sound kit lies where it looks (beside its own directory),
# the manual renders without warnings, and the package names the Debian
# packages the program needs.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
deb=$(ls "$scratch"/out/kalimbro_*.deb)
fail() { echo "package: $*" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libasound2 libespeak-ng1 libspeechd2 libbrlapi0.8; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *lame* && $recommends == *sox* ]] || fail "Recommends lacks lame or sox: $recommends"

dpkg -x "$deb" "$scratch/root"
program="$scratch/root/usr/bin/kalimbro"
[[ $("$program" --version </dev/null) == "kalimbro 3.1" ]] || fail "--version: $("$program" --version)"

# The program looks for its recordings at its own directory/../share.
kit="$(dirname "$program")/../share/varelu/som"
[[ -s $kit/kalimbro/KLMENU.wav ]] || fail "no recorded menu sound in $kit/kalimbro"
[[ -n $(ls "$kit/letras") ]] || fail "no letter sounds in $kit/letras"

manual="$scratch/root/usr/share/man/man1/kalimbro.1"
[[ -s $manual ]] || fail "no manual"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "manual warnings: $warnings"
[[ -s $scratch/root/usr/share/doc/kalimbro/README.md ]] || fail "no README"
echo "package: $(basename "$deb") ok"
