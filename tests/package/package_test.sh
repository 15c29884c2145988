#!/usr/bin/env bash
# Builds the Debian package from a build directory, checks its metadata and
# contents with dpkg-deb (and with lintian, where it is installed), unpacks
# it into a scratch root and runs the programs from there.
#
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build_dir="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB -B "$work" --config "$build_dir/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch="$(dpkg --print-architecture)"
deb="$work/velnar_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(cd "$work" && ls ./*.deb 2>/dev/null)"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velnar ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends="$(field Depends)"
# Computed from the programs' libraries, not written by hand.
for library in libqt6core6 libqt6widgets6 libgsm1 libasound2 libc6; do
    [[ ", $depends" == *", $library "* ]] || fail "Depends lacks $library: $depends"
done

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for path in usr/bin/velnar usr/bin/velnar-console usr/bin/velnar-echo \
            usr/share/applications/velnar.desktop \
            usr/share/icons/hicolor/48x48/apps/velnar.png \
            usr/share/icons/hicolor/scalable/apps/velnar.svg \
            usr/share/man/man1/velnar.1.gz usr/share/man/man1/velnar-console.1.gz \
            usr/share/man/man1/velnar-echo.1.gz \
            usr/share/doc/velnar/copyright usr/share/doc/velnar/changelog.gz; do
    grep -qx "./$path" <<<"$contents" || fail "the package lacks /$path"
done
# Nothing from the build or the tests comes along.
unexpected="$(grep -Ev '^\./usr/(bin/velnar(-console|-echo)?|share/(applications|icons|man|doc)(/.*)?|bin|share)?/?$' <<<"$contents" || true)"
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

# The changelog speaks of this version.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/velnar/changelog.gz | zcat | head -n1 |
    grep -q "^velnar ($version) " || fail "the changelog's latest entry is not $version"

# Clean by Debian's own checker, where it is installed: no error, no warning.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
        { cat "$work/lintian.log" >&2; fail "lintian reports errors or warnings"; }
fi

# Installable: apt finds every dependency (a simulation; nothing changes).
if command -v apt-get >/dev/null; then
    apt-get -s install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt cannot install it"; }
fi

root="$work/root"
dpkg -x "$deb" "$root"
for program in velnar-console velnar-echo velnar; do
    printed="$("$root/usr/bin/$program" --version)"
    [ "$printed" = "$program (Velnar) $version" ] || fail "$program --version printed '$printed'"
done
zcat "$root/usr/share/man/man1/velnar-console.1.gz" | grep -q 'Ctrl\\-C' ||
    fail "the console's man page does not tell about Ctrl-C"
echo "ok: $(basename "$deb")"
