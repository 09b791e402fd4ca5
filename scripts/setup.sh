#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    libcurl4-openssl-dev libboost-regex-dev libre2-dev
    googletest libgtest-dev libbenchmark-dev
    qt6-base-dev qt6-webengine-dev
    xvfb xauth openssl curl fonts-wqy-microhei
    ccache
    libsqlite3-dev sqlite3 libxlsxwriter-dev libzstd-dev unzip
    libcli11-dev libtomlplusplus-dev libpq-dev postgresql
    clang libfuzzer-14-dev libclang-rt-14-dev
    libpcre2-dev nodejs
    lintian librsvg2-bin
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j2
