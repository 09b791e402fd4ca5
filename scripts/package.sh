#!/usr/bin/env bash
# Builds the Debian package (installed under /usr) in build-package/ and lints it: lintian must
# report no error. Run scripts/setup.sh once before on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}

# Installing must not build every test and benchmark first: only the package's own targets.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
known=$(cmake --build "$dir" --target help)
targets=(zembra)
for t in zembra-cli zembra_icons zembra_docs; do
    if grep -q "\.\.\. $t\$" <<<"$known"; then targets+=("$t"); fi
done
cmake --build "$dir" -j2 --target "${targets[@]}"
rm -f "$dir"/zembra_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/zembra_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$dir/lintian.txt"
echo "lintian: $(grep -c '^E:' "$dir/lintian.txt" || true) errors, $(grep -c '^W:' "$dir/lintian.txt" || true) warnings"
