#!/usr/bin/env bash
# Builds the Debian package from this build tree into a temporary directory, unpacks it and checks
# what a user would get: the product files and nothing else, root-owned, units that name the
# packaged runner, control fields, and a runner that starts and tells its version.
# Usage: verify_package.sh <build dir> <cpack> <version>
# Exit 77 (skipped) where dpkg-deb or dpkg-shlibdeps is not installed.
set -u
build=$1 cpack=$2 version=$3
pkg=norvo-scheduled-scan
for tool in dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed: package not checked"
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# -B keeps the staging tree and the .deb out of the build tree, so `make package` is not disturbed.
if ! (cd "$build" && "$cpack" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1); then
  cat "$tmp/cpack.log"
  exit 1
fi
debs=("$tmp"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no single .deb"; ls "$tmp/out"; exit 1; }
deb=${debs[0]}
dpkg-deb -x "$deb" "$tmp/root" || exit 1

# The files: what must be there, and nothing outside the product's places (no stand-ins, no
# demo, nothing under /usr/local).
required=(
  usr/bin/$pkg
  usr/share/man/man1/$pkg.1.gz
  usr/lib/systemd/user/$pkg.service
  usr/lib/systemd/user/$pkg.timer
  usr/share/doc/$pkg/README.md
  usr/share/doc/$pkg/copyright
  usr/share/doc/$pkg/changelog.Debian.gz
  usr/lib/systemd/catalog/$pkg.catalog
)
for f in "${required[@]}"; do
  [ -f "$tmp/root/$f" ] || fail "missing /$f"
done
while read -r f; do
  case $f in
    usr/bin/$pkg | usr/share/man/man1/$pkg.1.gz | usr/share/doc/$pkg/* | \
    usr/lib/systemd/user/$pkg.service | usr/lib/systemd/user/$pkg.timer | \
    usr/lib/systemd/user/$pkg-*.service | usr/lib/systemd/user/$pkg-*.timer | \
    usr/lib/systemd/user/$pkg-*.path | usr/lib/systemd/catalog/$pkg.catalog | \
    usr/share/lintian/overrides/$pkg) ;;
    *) fail "unexpected file /$f" ;;
  esac
done < <(cd "$tmp/root" && find . -type f -o -type l | sed 's|^\./||')

# Installed as root, with no file writable by group or others.
while read -r mode owner rest; do
  [ "$owner" = root/root ] || fail "owner $owner: $rest"
  case $mode in ?????w???? | ????????w?) fail "writable by others: $mode $rest" ;; esac
done < <(dpkg-deb -c "$deb")
gzip -t "$tmp/root/usr/share/man/man1/$pkg.1.gz" || fail "man page is not valid gzip"

# Each unit's program and documentation lie where the package puts them.
for unit in "$tmp"/root/usr/lib/systemd/user/*.service; do
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "${exec_start%% *}" = /usr/bin/$pkg ] || fail "$(basename "$unit"): ExecStart=$exec_start"
  doc=$(sed -n 's|^Documentation=file://||p' "$unit")
  [ -z "$doc" ] || [ -f "$tmp/root$doc" ] || fail "$(basename "$unit"): Documentation $doc not packaged"
done

# journalctl takes the catalog: each of the runner's message ids has its explanation.
if command -v journalctl >/dev/null; then
  journalctl --root="$tmp/root" --update-catalog 2>"$tmp/catalog.log" || fail "catalog: $(cat "$tmp/catalog.log")"
  listed=$(journalctl --root="$tmp/root" --list-catalog 2>/dev/null | grep -c "norvo-scheduled-scan\|Scheduled scan\|Threat found")
  ids=$(grep -c '^-- [0-9a-f]\{32\}$' "$tmp/root/usr/lib/systemd/catalog/$pkg.catalog")
  [ "$listed" -eq "$ids" ] && [ "$ids" -eq 9 ] || fail "catalog lists $listed of $ids ids"
  rm -rf "$tmp/root/var"
fi

# Control fields. Depends comes from dpkg-shlibdeps, so it names the Qt library the runner links.
field() { dpkg-deb -f "$deb" "$1"; }
deb_version=$(field Version)
case $deb_version in "$version"-*) ;; *) fail "Version $deb_version is not of $version" ;; esac
case $(field Depends) in *libqt6core6*) ;; *) fail "Depends lacks libqt6core6: $(field Depends)" ;; esac
for f in Section Priority Maintainer Description; do
  [ -n "$(field "$f")" ] || fail "no $f field"
done
top=$(zcat "$tmp/root/usr/share/doc/$pkg/changelog.Debian.gz" | head -n1)
case $top in "$pkg ($deb_version) "*) ;; *) fail "changelog's top entry is not $deb_version: $top" ;; esac

# The packaged runner starts with its libraries and prints its version. Its environment points at
# no daemon and a private runtime directory, so a runner that ignored the option touches nothing.
mkdir -p -m 700 "$tmp/run" "$tmp/home"
out=$(env -i PATH=/usr/bin:/bin HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" \
  NRV_PUBLIC_SOCKET="$tmp/no-daemon" timeout 20 "$tmp/root/usr/bin/$pkg" --version 2>&1)
status=$?
[ $status -eq 0 ] || fail "--version exited with $status: $out"
grep -Eq " ${version//./\\.}\$" <<<"$out" || fail "--version does not print $version: $out"

[ $failed -eq 0 ] && echo "package ${deb##*/} checked"
exit $failed
