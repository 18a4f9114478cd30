#!/bin/sh
# The Debian packages from the outside: cpack makes them from this build into a folder of the
# test's own; each unpacks into a root of its own, holds its program, manual page, copyright
# and changelog and nothing else, runs from there with the libraries its Depends names and
# still carries its version after stripping; lintian finds no error in it.
# usage: packages_test.sh BUILD_DIR CPACK VERSION_KEY PACKAGE...
set -u
build=$1 cpack=$2 key=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../support/checks.sh
. "$(dirname "$0")/../support/checks.sh"

command -v dpkg-shlibdeps > /dev/null || fail "dpkg-shlibdeps is missing: install dpkg-dev"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack" 2>&1; then
  fail "cpack -G DEB" "$(tail -n 20 "$work/cpack")"
  checks_done
  exit
fi
check "one package per component" "$#" "$(find "$work/out" -maxdepth 1 -name '*.deb' | wc -l)"
lintian=$(command -v lintian) || echo "SKIP lintian: not installed (Debian package lintian)"
mkdir "$work/root"

# package | arguments run from the unpacked root | their status | what Depends must name
while IFS='|' read -r package arguments expected libraries <&3; do
  case " $* " in *" $package "*) ;; *) continue ;; esac
  deb=$(find "$work/out" -maxdepth 1 -name "${package}_*.deb")
  root=$work/root/$package
  dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x $package"; continue; }
  check "files of $package" "./usr/bin/$package
./usr/share/doc/$package/changelog.Debian.gz
./usr/share/doc/$package/copyright
./usr/share/man/man1/$package.1.gz" "$(cd "$root" && find . -type f | LC_ALL=C sort)"
  # shellcheck disable=SC2086 # the arguments split on purpose
  check "$package $arguments from its root" "$expected" "$(status env -u LD_LIBRARY_PATH \
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$root/usr/bin/$package" $arguments)"
  check "version of the stripped $package" "$(printf '%s\t%s' "$key" "$root/usr/bin/$package")" \
    "$("$work/root/updtool/usr/bin/updtool" version "$root/usr/bin/$package")"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in $libraries; do
    case "$depends" in
      *"$library"*) pass ;;
      *) fail "$package depends on $library" "Depends: $depends" ;;
    esac
  done
  if [ -n "$lintian" ]; then
    # Status 2: error tags; warnings pass.
    if "$lintian" --tag-display-limit 0 "$deb" > "$work/lintian" 2>&1; then
      pass
    else
      fail "lintian on $package" "$(grep -v '^[WIPNX]: ' "$work/lintian")"
    fi
  fi
done 3<< 'EOF'
updtool|--help|0|libsodium libssl libzstd
update-wizard|--auto --bogus 1|2|libqt6core6 libqt6gui6 libqt6widgets6
EOF
checks_done
