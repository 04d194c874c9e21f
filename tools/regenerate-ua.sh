#!/bin/bash
# Regenerates the UA structures, the status-code table and the node-opcua golden encodings from
# the published files that node-opcua's packages ship (installed by tools/setup.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
modules="$root/tools/ua-peer/node_modules"
python3 "$root/tools/gen_ua_structures.py" "$modules/node-opcua-nodesets/nodesets/Opc.Ua.Types.bsd" \
    "$modules/node-opcua-constants/dist/opcua_node_ids.js" "$root/ua"
python3 "$root/tools/gen_ua_status_codes.py" "$modules/node-opcua-status-code/dist/_generated_status_codes.js" \
    "$root/ua/uaStatusCodes.cpp"
(cd "$root/tools/ua-peer" && node make-golden-vectors.js > "$root/tests/ua/golden/node-opcua-vectors.jsonl")
