#!/bin/bash
# Installs what the build and the tests need on a fresh Debian 12 machine (run as root);
# does nothing when everything is there.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev python3 ccache
    libssl-dev openssl libxml2-dev
    googletest libgtest-dev libbenchmark-dev
    tinyproxy dante-server
    wine64 wine libwine-dev mingw-w64-tools g++-mingw-w64-x86-64-posix
    xvfb xauth
)
# Node.js may come from elsewhere than Debian's packages (with npm inside): look for the commands.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "+ installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# node-opcua, the independent UA peer of the tests (pinned in tools/ua-peer/package-lock.json)
peer="$(cd "$(dirname "$0")" && pwd)/ua-peer"
if [ ! -d "$peer/node_modules/node-opcua" ]; then
    echo "+ installing node-opcua"
    (cd "$peer" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
