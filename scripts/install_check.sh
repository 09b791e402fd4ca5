#!/usr/bin/env bash
# Installs the package for real, starts the installed window on a headless display for 3 seconds,
# closes it the way a window manager would and checks it ended with code 0 and made its files in the
# user's data folder; runs zembra-cli --version when the package has it; removes the package.
# Needs root (apt-get). Builds the package first with scripts/package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package.sh build-package
deb=$(ls "$PWD"/build-package/zembra_*.deb)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 "$deb" >/dev/null

home=$(mktemp -d)
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=600 zembra >/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data
export QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking"
rc=0
xvfb-run -a bash -c '
    /usr/bin/zembra >"$HOME/zembra.log" 2>&1 &
    pid=$!
    sleep 3
    kill -0 "$pid" || { echo "zembra ended before it was closed"; wait "$pid"; exit 1; }
    python3 scripts/close_window.py
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    if kill -0 "$pid" 2>/dev/null; then echo "zembra did not end on close"; kill -9 "$pid"; exit 1; fi
    wait "$pid"
' || rc=$?
if [ "$rc" -ne 0 ]; then
    echo "installed zembra: failed (code $rc)" >&2
    cat "$home/zembra.log" >&2
    exit 1
fi
if [ ! -f "$XDG_DATA_HOME/zembra/淘宝买家.txt" ]; then
    echo "installed zembra: no output file in $XDG_DATA_HOME/zembra" >&2
    ls -laR "$home" >&2
    exit 1
fi
echo "installed zembra: started, made $(ls "$XDG_DATA_HOME/zembra" | tr '\n' ' ')in the data folder, ended with 0 on close"
if [ -x /usr/bin/zembra-cli ]; then
    /usr/bin/zembra-cli --version
fi
