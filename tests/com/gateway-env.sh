# shellcheck shell=bash
# Sourced by the scripts that run a DA client against the gateway under Wine (gateway-e2e.sh,
# bench/gateway/gateway-bench.sh): the node-opcua demo server and an installed gateway with its
# own option file, both for one run. The caller sets root (the source tree).

# Installs the gateway EXE and the proxy/stub DLL given into a folder of the run and sets
# scratch, gateway (the installed EXE) and server.
begin_gateway_run() {
    scratch=$(mktemp -d)
    mkdir -p "$scratch/install"
    cp "$1" "$scratch/install/vela_gateway.exe"
    cp "$2" "$scratch/install/opcda_ps.dll"
    gateway="$scratch/install/vela_gateway.exe"
    server=
    # nobody answers a message box in a test run
    export VELA_GATEWAY_MESSAGES=stderr
}

# Stops the demo server, unregisters the run's gateway and removes its files: for the caller's
# EXIT trap.
end_gateway_run() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null
    [ -f "$scratch/install/vela_gateway.dat" ] &&
        timeout 30 "$root/tools/wine-run.sh" "$gateway" /UnregServer >/dev/null 2>&1
    rm -rf "$scratch"
}

# A background job of the caller, so that it may disown it.
start_ua_server() {
    node --security-revert=CVE-2023-46809 "$root/tools/ua-peer/test-server.js" "$scratch/pki" >"$scratch/ua.log" 2>&1 &
    server=$!
}

# Waits up to $1 seconds for the server to listen and exports VELA_UA_URL; shows its log otherwise.
wait_for_ua_server() {
    local _ port
    for _ in $(seq 1 $(($1 * 4))); do grep -q '^READY ' "$scratch/ua.log" && break; sleep 0.25; done
    port=$(sed -n 's/^READY \([0-9]*\).*/\1/p' "$scratch/ua.log")
    if [ -z "$port" ]; then
        cat "$scratch/ua.log"
        return 1
    fi
    export VELA_UA_URL="opc.tcp://127.0.0.1:$port"
}

# Adds the tests' virtual server (Vela.Test.Gateway.1) for VELA_UA_URL to the installed gateway's
# option file, as an installer would; the arguments are further name=value settings.
add_test_server() {
    "$root/tools/wine-run.sh" "$gateway" /AddServer caption="Vela test gateway" name=Vela.Test.Gateway.1 \
        url="$VELA_UA_URL" minupdaterate=100 waittime=5000 holdtime=0 "$@"
}
