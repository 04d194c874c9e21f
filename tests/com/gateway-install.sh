#!/bin/bash
# The gateway installed and administered by script under Wine, checked in the registry and by a
# DA client:  gateway-install.sh <da_probe_client.exe> <opcda_ps.dll> <vela_gateway.exe>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
probe=$1
proxy=$2
source "$root/tests/com/gateway-env.sh"
source "$root/tools/wine-env.sh"
begin_gateway_run "$3" "$proxy"
trap end_gateway_run EXIT
install=$scratch/install
dat=$install/vela_gateway.dat
failures=0

check() {  # check DESCRIPTION COMMAND...: the command must succeed
    local what=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then echo "ok      $what"
    else
        echo "FAILED  $what"
        sed 's/^/        /' "$scratch/out" | head -20
        failures=$((failures + 1))
    fi
}
run_gateway() { "$root/tools/wine-run.sh" "$gateway" "$@"; }
# The default value of a key under HKEY_CLASSES_ROOT, or nothing.
default_value() {
    wine reg query "HKCR\\$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p'
}
value_is() { [ "$(default_value "$1")" = "$2" ] || { echo "HKCR\\$1 is '$(default_value "$1")', not '$2'"; return 1; }; }
key_missing() { ! wine reg query "HKCR\\$1" >/dev/null 2>&1; }
fails_with() {  # fails_with TEXT COMMAND...: the command fails and says TEXT
    local text=$1
    shift
    ! "$@" >"$scratch/said" 2>&1 && grep -qF -- "$text" "$scratch/said" || { cat "$scratch/said"; return 1; }
}
same_file() { cmp -s "$1" "$2" || { echo "$1 changed"; return 1; }; }

start_ua_server
if ! wait_for_ua_server 40; then
    echo "the node-opcua test server did not start"
    echo "RESULT: FAILED"
    exit 1
fi

clsid_a='{6B1F0C3A-7E52-4D8B-9A11-2C4E5F607181}'
# the category as a fresh machine has it: not there until the first OPC server registers it
wine reg delete 'HKCR\Component Categories\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}' /f >/dev/null 2>&1
check "no option file: no servers listed" bash -c "'$root/tools/wine-run.sh' '$gateway' /ListServers | grep -q ': 0 virtual servers'"
check "/AddServer adds a server with a given class id" run_gateway /AddServer "caption=Line A" name=Vela.Test.A \
    "clsid=$clsid_a" "url=$VELA_UA_URL" minupdaterate=100
check "/AddServer adds a second one with a class id of its own" run_gateway /AddServer "caption=Line B" \
    name=Vela.Test.B "url=$VELA_UA_URL" securitymode=None
clsid_b=$(default_value 'Vela.Test.B\Clsid')
check "both are registered at once" value_is 'Vela.Test.A\Clsid' "$clsid_a"
check "the ProgID key holds the caption" value_is 'Vela.Test.A' "Line A"
check "the OPC marker key is there" wine reg query 'HKCR\Vela.Test.A\OPC'
check "the class key holds the caption" value_is "CLSID\\$clsid_a" "Line A"
check "the class names its ProgID" value_is "CLSID\\$clsid_a\\ProgID" "Vela.Test.A"
check "the class names its AppID" value_is "CLSID\\$clsid_a\\AppID" "$clsid_a"
check "the AppID key holds the caption" value_is "AppID\\$clsid_a" "Line A"
check "the local server is the installed EXE, quoted" bash -c "wine reg query 'HKCR\\CLSID\\$clsid_a\\LocalServer32' /ve | grep -qiF '\"Z:'"
check "the class implements the OPC DA 2.0 category" \
    wine reg query "HKCR\\CLSID\\$clsid_a\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"
check "the category is registered with a description" \
    wine reg query 'HKCR\Component Categories\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}'
check "the second server has a class id of its own" bash -c "[[ '$clsid_b' =~ ^\\{[0-9A-Fa-f-]{36}\\}$ && '$clsid_b' != '$clsid_a' ]]"
check "the list shows both, registered" bash -c "'$root/tools/wine-run.sh' '$gateway' /ListServers | tr -d '\\r' | grep -c '^   registered     yes' | grep -qx 2"

# A DA client creates each virtual server by ProgID and reads through it.
check "a DA client creates both virtual servers by ProgID" bash -c "'$root/tools/wine-run.sh' '$probe' \
    'Vela.Test.A=ns=1;s=Demo.Static.Scalars.Int32' 'Vela.Test.B=ns=1;s=Demo.Static.Scalars.Int32' | tr -d '\\r' >'$scratch/probe'; \
    cat '$scratch/probe'; [ \$(grep -c 'created, state 1.* = -\\?[0-9]* quality 0xC0' '$scratch/probe') = 2 ]"
timeout 20 "$root/tools/wine-run.sh" "$gateway" /stop >/dev/null 2>&1

# Trust: an encrypted server whose certificate the store beside the gateway does not know is
# refused and its certificate kept in rejected/ until an administrator trusts it; the gateway
# makes its own certificate on first use.
probe_secured() {
    "$root/tools/wine-run.sh" "$probe" 'Vela.Test.S=ns=1;s=Demo.Static.Scalars.Int32' | tr -d '\r' >"$scratch/probe"
    cat "$scratch/probe"
    timeout 20 "$root/tools/wine-run.sh" "$gateway" /stop >/dev/null 2>&1
    grep -q 'created, state 1.* = -\?[0-9]* quality 0xC0' "$scratch/probe"
}
check "/AddServer adds an encrypted server without a certificate of its own" run_gateway /AddServer \
    "caption=Line S" name=Vela.Test.S "url=$VELA_UA_URL" securitymode=SignAndEncrypt
probe_refused() { ! probe_secured; }
check "an unknown server certificate refuses the connection" probe_refused
check "... and the gateway has made its own certificate" bash -c "ls '$install/pki/own/certs/'*.der"
thumbprint=$(run_gateway /ListCertificates 2>/dev/null | tr -d '\r' | sed -n '/^Rejected/,/^Trusted/s/^  \([0-9A-F]\{40\}\) .*/\1/p' | head -1)
check "/ListCertificates shows the rejected certificate" test -n "$thumbprint"
check "/TrustCertificate of an unknown thumbprint fails" fails_with "No rejected certificate" \
    run_gateway /TrustCertificate 0011223344556677889900112233445566778899
check "/TrustCertificate trusts the rejected one" run_gateway /TrustCertificate "$thumbprint"
check "... it is in trusted/ now" bash -c "ls '$install/pki/trusted/certs/' | grep -q '$thumbprint'"
check "a DA client reads through the encrypted server" probe_secured
check "/RemoveServer removes the encrypted server" run_gateway /RemoveServer Vela.Test.S

# Refusals leave the file as it was.
cp "$dat" "$scratch/before"
check "a class id listed twice is refused" fails_with "is used by an earlier server" \
    run_gateway /AddServer "caption=Dup" name=Vela.Test.Dup "clsid=$clsid_a" url=opc.tcp://x:1
check "an unknown security mode is refused" fails_with "security mode 'Encrypted' is unknown" \
    run_gateway /ChangeServer Vela.Test.A securitymode=Encrypted
check "a non-number is refused" fails_with "'fast' is not a valid integer value" \
    run_gateway /ChangeServer Vela.Test.A minupdaterate=fast
check "an unknown value name is refused" fails_with "'colour=red' names no value" \
    run_gateway /ChangeServer Vela.Test.A colour=red
check "... and the option file is unchanged" same_file "$dat" "$scratch/before"

check "/ChangeServer changes a value" run_gateway /ChangeServer Vela.Test.B "caption=Line B2"
check "... and registers it again" value_is "CLSID\\$clsid_b" "Line B2"
check "/RemoveServer removes a server" run_gateway /RemoveServer Vela.Test.B
check "... and its ProgID key" key_missing 'Vela.Test.B'
check "... and its class key" key_missing "CLSID\\$clsid_b"
check "... and leaves the other" value_is 'Vela.Test.A\Clsid' "$clsid_a"

check "/UnregServer removes the servers" run_gateway /UnregServer
check "... the ProgID key" key_missing 'Vela.Test.A'
check "... the class key" key_missing "CLSID\\$clsid_a"
check "... the AppID key" key_missing "AppID\\$clsid_a"
check "/RegServer registers them again" run_gateway /RegServer
check "... from the option file" value_is 'Vela.Test.A\Clsid' "$clsid_a"

# Other programs' registrations are never taken over or deleted.
victim_clsid='{0BADF00D-0000-4000-8000-000000000001}'
wine reg add 'HKCR\Review.Victim\Clsid' /ve /d "$victim_clsid" /f >/dev/null 2>&1
wine reg add 'HKCR\Review.Victim\CurVer' /ve /d 'Review.Victim.2' /f >/dev/null 2>&1
wine reg add "HKCR\\CLSID\\$victim_clsid\\InprocServer32" /ve /d 'C:\victim.dll' /f >/dev/null 2>&1
cp "$dat" "$scratch/before"
check "another program's ProgID is refused" fails_with "is registered for another class" \
    run_gateway /AddServer caption=Thief name=Review.Victim url=opc.tcp://x:1
check "another program's class id is refused" fails_with "is an in-process component's" \
    run_gateway /AddServer caption=Thief name=Review.Thief "clsid=$victim_clsid" url=opc.tcp://x:1
check "a registry key that is no ProgID is refused" fails_with "is a registry key of another kind" \
    run_gateway /AddServer caption=Thief name=Interface url=opc.tcp://x:1
check "a name that is no ProgID is refused" fails_with "is no ProgID" \
    run_gateway /AddServer caption=Thief 'name=CLSID\{00000000-0000-0000-C000-000000000046}' url=opc.tcp://x:1
check "a value with a line break is refused" fails_with "holds a control character" \
    run_gateway /ChangeServer Vela.Test.A $'caption=Line A\n2. Fake'
check "... the option file is unchanged" same_file "$dat" "$scratch/before"
check "... the other program's ProgID is untouched" value_is 'Review.Victim\CurVer' 'Review.Victim.2'
check "... and its class" value_is "CLSID\\$victim_clsid\\InprocServer32" 'C:\victim.dll'
wine reg delete 'HKCR\Review.Victim' /f >/dev/null 2>&1
wine reg delete "HKCR\\CLSID\\$victim_clsid" /f >/dev/null 2>&1
check "the shared category keeps its own description" bash -c \
    "wine reg query 'HKCR\Component Categories\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}' | grep -q 'OPC Data Access Servers Version 2.0'"

# Two administrators at once: both changes land.
parallel_adds() {
    run_gateway /AddServer caption=P1 name=Vela.Test.P1 "url=$VELA_UA_URL" >"$scratch/p1" 2>&1 &
    local first=$!
    run_gateway /AddServer caption=P2 name=Vela.Test.P2 "url=$VELA_UA_URL" >"$scratch/p2" 2>&1
    local second=$?
    wait "$first" && [ "$second" -eq 0 ] && grep -q Vela.Test.P1 "$dat" && grep -q Vela.Test.P2 "$dat" ||
        { cat "$scratch/p1" "$scratch/p2"; return 1; }
}
check "two /AddServer at once both land in the option file" parallel_adds
check "... and are removed again" bash -c "'$root/tools/wine-run.sh' '$gateway' /RemoveServer Vela.Test.P1 && '$root/tools/wine-run.sh' '$gateway' /RemoveServer Vela.Test.P2"

# The proxy/stub registration: interfaces that another proxy DLL serves stay with it, and
# unregistration removes only what the gateway wrote.
server_iid='{39C13A4D-011E-11D0-9675-0020AFD8ADB3}'      # IOPCServer
properties_iid='{39C13A72-011E-11D0-9675-0020AFD8ADB3}'  # IOPCItemProperties
other_ps='{0FEEDBAC-0000-4000-8000-00000000BEEF}'
ps=$(default_value "Interface\\$server_iid\\ProxyStubClsid32")
wine reg delete "HKCR\\CLSID\\$ps" /f >/dev/null 2>&1
wine reg delete "HKCR\\Interface\\$server_iid" /f >/dev/null 2>&1
wine reg add "HKCR\\Interface\\$properties_iid\\ProxyStubClsid32" /ve /d "$other_ps" /f >/dev/null 2>&1
check "the proxy's factory class id is known" test -n "$ps"
check "/RegServer registers the installed proxy DLL" run_gateway /RegServer
check "... for the interfaces nobody serves" value_is "Interface\\$server_iid\\ProxyStubClsid32" "$ps"
check "... from the installed folder" bash -c "wine reg query 'HKCR\\CLSID\\$ps\\InprocServer32' /ve | grep -qi 'opcda_ps.dll'"
check "... and leaves another proxy's interface alone" value_is "Interface\\$properties_iid\\ProxyStubClsid32" "$other_ps"
check "/UnregServer removes what it registered" run_gateway /UnregServer
check "... the interface it served" key_missing "Interface\\$server_iid"
check "... its factory class" key_missing "CLSID\\$ps"
check "... and not the other proxy's interface" value_is "Interface\\$properties_iid\\ProxyStubClsid32" "$other_ps"
wine reg delete "HKCR\\Interface\\$properties_iid" /f >/dev/null 2>&1
# the build's proxy DLL serves the other tests of this prefix, as before
wine regsvr32 /s "$(winepath -w "$proxy")" >/dev/null 2>&1
check "/RegServer again for what follows" run_gateway /RegServer

# A pending option file replaces the file at the next start, which then ends.
sed -e 's/Line A/Line A2/' -e 's/Vela\.Test\.A/Vela.Test.A2/' "$dat" >"$install/vela_gateway.new"
check "a pending option file is applied by the next start, which ends" timeout 60 "$root/tools/wine-run.sh" "$gateway"
check "... the pending file is gone" test ! -e "$install/vela_gateway.new"
check "... the option file is the new one" grep -q 'Vela.Test.A2' "$dat"
check "... the old ProgID is unregistered" key_missing 'Vela.Test.A'
check "... the new one registered" value_is 'Vela.Test.A2\Clsid' "$clsid_a"
printf '<options><serverlist><server><caption>x' >"$install/vela_gateway.new"
cp "$dat" "$scratch/before"
pending_refused() {
    timeout 60 "$root/tools/wine-run.sh" "$gateway" >"$scratch/pending.out" 2>&1 &
    local started=$!
    sleep 6
    run_gateway /Stop >/dev/null 2>&1
    wait "$started"
    grep -F "is not applied" "$scratch/pending.out" || { cat "$scratch/pending.out"; return 1; }
}
check "a broken pending file is not applied; the gateway serves the current file" pending_refused
check "... and both files stay" bash -c "test -e '$install/vela_gateway.new' && cmp -s '$dat' '$scratch/before'"
rm -f "$install/vela_gateway.new"
sed -e 's/timeout="[0-9]*"/timeout="soon"/' "$dat" >"$install/vela_gateway.new"
cp "$dat" "$scratch/before"
check "/RegServer leaves a pending file for the next start" run_gateway /RegServer
check "... which is still there" test -e "$install/vela_gateway.new"
check "a pending file whose time-out is no number is not applied" pending_refused
check "... and the option file stays" same_file "$dat" "$scratch/before"
rm -f "$install/vela_gateway.new"

# Hostile option files: the gateway refuses to start with a clear message and writes nothing.
hostile() {  # hostile DESCRIPTION TEXT CONTENT
    printf '%s' "$3" >"$dat"
    cp "$dat" "$scratch/before"
    check "$1" fails_with "$2" timeout 60 "$root/tools/wine-run.sh" "$gateway"
    check "... and the file is untouched" same_file "$dat" "$scratch/before"
}
hostile "broken XML ends the start with a message" "Can not start program" '<options><serverlist><server>'
hostile "a malformed class id ends the start" "is no GUID" \
    '<options><serverlist><server><caption>c</caption><name>n.1</name><clsid>{nope}</clsid></server></serverlist></options>'
hostile "a duplicate class id ends the start" "is also that of server 1" \
    "<options><serverlist><server><caption>c</caption><name>n.1</name><clsid>$clsid_a</clsid></server><server><caption>d</caption><name>n.2</name><clsid>$clsid_a</clsid></server></serverlist></options>"
hostile "a time-out that is no number ends the start" "is not a valid integer value" '<options timeout="soon"/>'
hostile "a billion-laughs document is refused" "Can not start program" \
    '<?xml version="1.0"?><!DOCTYPE l [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><options timeout="&c;"/>'
check "/AddServer on a broken file changes nothing" fails_with "Nothing was changed" \
    run_gateway /AddServer caption=x name=y.1 url=opc.tcp://z:1
check "... and the file is untouched" same_file "$dat" "$scratch/before"
rm -f "$dat"

echo "$failures failed"
[ "$failures" -eq 0 ] && echo "RESULT: PASSED" || echo "RESULT: FAILED"
