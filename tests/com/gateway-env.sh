# shellcheck shell=bash
# Sourced by the scripts that run a DA client against the gateway under Wine (gateway-e2e.sh,
# bench/gateway/gateway-bench.sh): the node-opcua demo server and the gateway's settings file,
# both for one run. The caller sets root (the source tree).

# Sets scratch, settings and server for a run of the gateway EXE given.
begin_gateway_run() {
    scratch=$(mktemp -d)
    settings="$(dirname "$1")/vela_gateway.settings"
    server=
}

# Stops the demo server and undoes the run's files: for the caller's EXIT trap.
end_gateway_run() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null
    # The settings file belongs to this run only.
    if [ -f "$scratch/settings.kept" ]; then mv -f "$scratch/settings.kept" "$settings"; else rm -f "$settings"; fi
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

# Points the gateway at VELA_UA_URL; the arguments are further settings lines.
write_gateway_settings() {
    [ -f "$settings" ] && cp -p "$settings" "$scratch/settings.kept"
    {
        echo "# written by ${0##*/} for one run"
        echo "url=$VELA_UA_URL"
        echo "minupdaterate=100"
        echo "# the gateway reads minupdaterate only with these two beside it (their built-in values)"
        echo "waittime=5000"
        echo "holdtime=0"
        local line
        for line in "$@"; do echo "$line"; done
    } >"$settings"
}
