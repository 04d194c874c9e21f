#!/bin/bash
# The main job: builds the Windows target, starts the demo UA server (node-opcua, the project's
# script on 127.0.0.1) and, under Wine, shows it twice: through the command-line client on the
# toolkit (status, a browse, reads, a write, live data changes over an encrypted channel), then
# through the gateway: vela_gateway.exe as an out-of-process COM server, serving a classic DA
# client that browses, reads properties, reads, writes and receives data changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
cmake --preset windows >/dev/null
# only what the demo runs: the tests build elsewhere
cmake --build --preset windows --target vela_cli vela_gateway opcda_ps da_demo_client
tools/wine-prefix.sh start

# the server's log and certificates live for one run, under build/
scratch=build/demo
rm -rf "$scratch"
mkdir -p "$scratch"
log=$scratch/server.log
node --security-revert=CVE-2023-46809 tools/ua-peer/test-server.js "$scratch/pki" >"$log" 2>&1 &
server=$!
installed=
uninstall() {
    # The gateway goes as it came: out of the registry, then off the disk.
    [ -n "$installed" ] && VELA_GATEWAY_MESSAGES=stderr tools/wine-run.sh "$installed/vela_gateway.exe" /UnregServer \
        >/dev/null 2>&1
    [ -n "$installed" ] && rm -rf "$installed"
    return 0
}
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; uninstall; tools/wine-prefix.sh stop; rm -rf "$scratch"' EXIT
for _ in $(seq 1 240); do grep -q '^READY ' "$log" && break; sleep 0.25; done
port=$(sed -n 's/^READY \([0-9]*\).*/\1/p' "$log")
[ -n "$port" ] || { cat "$log"; echo "the demo UA server did not start"; exit 1; }
url="opc.tcp://127.0.0.1:$port"
# An argument as a shell takes it back: quoted when it holds anything beyond plain characters.
quoted() {
    if [[ "$1" =~ ^[A-Za-z0-9_./:=,+@%-]+$ ]]; then printf '%s' "$1"
    else printf "'%s'" "${1//\'/\'\\\'\'}"; fi
}
cli() {
    local shown="vela_cli $url" argument
    for argument in "$@"; do shown+=" $(quoted "$argument")"; done
    echo
    echo "\$ $shown"
    tools/wine-run.sh build/windows/cli/vela_cli.exe "$url" "$@"
}
# An encrypted channel with the client's own certificate (made on first use in its store), to a
# server whose certificate the store trusts once the user has looked at it.
pki=$scratch/cli-pki
keys=(--mode encrypt --policy Basic256Sha256 --pki "$pki")

cli status
cli trust --pki "$pki" --yes
cli browse "ns=1;s=Demo" --depth 2 --filter "[!B]*"
cli read "ns=1;s=Demo.Static.Scalars.Double" "ns=1;s=Demo.Static.Arrays.StringArray" "ns=1;s=Demo.Analog.Level"
cli write "ns=1;s=Demo.Analog.Level" 57.5 "${keys[@]}"
cli subscribe "ns=1;s=Demo.Dynamic.Fast" "ns=1;s=Demo.Dynamic.Slow" "ns=1;s=Demo.Analog.Level" \
    --rate 500 --seconds 5 "${keys[@]}"

# The gateway, installed as a plant would: the EXE and its proxy/stub DLL in a folder of the
# Windows machine, the demo server's certificate trusted in its store, one virtual server for the
# demo server added to its option file (an encrypted UA channel; the gateway makes its own
# certificate when it first connects), registered with COM; then a DA client that knows nothing
# of UA creates the virtual server by its ProgID.
source tools/wine-env.sh
install="$WINEPREFIX/drive_c/Program Files/Vela Ostra"
windir='C:\Program Files\Vela Ostra'
rm -rf "$install"
mkdir -p "$install"
installed=$install
cp build/windows/app/vela_gateway.exe build/windows/idl/opcda_ps.dll "$install/"
gateway() {
    echo
    echo "\$ vela_gateway $*"
    VELA_GATEWAY_MESSAGES=stderr tools/wine-run.sh "$install/vela_gateway.exe" "$@"
}
echo
echo "\$ vela_cli $url trust --pki '$windir\pki' --yes"
tools/wine-run.sh build/windows/cli/vela_cli.exe "$url" trust --pki "$windir\pki" --yes
gateway /AddServer "caption=Demo UA server (encrypted)" name=Vela.Demo.UA.1 "url=$url" \
    securitymode=SignAndEncrypt securitypolicy=Basic256Sha256 minupdaterate=100
gateway /ListServers
gateway /ListCertificates
gateway /RegServer && echo "registered"
echo
echo "\$ da_demo_client Vela.Demo.UA.1  (a classic OPC DA 2.0 client; it creates the virtual server by ProgID)"
tools/wine-run.sh build/windows/tests/com/da_demo_client.exe Vela.Demo.UA.1 5
