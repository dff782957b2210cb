#!/usr/bin/env bash
# The same inventory browse of COUNT instances (default 1000) against one
# moto, in one run: through the bridge's wire backend (amazon-host browse
# with --backend aws) and through boto3's describe calls as a user would
# script them (bench/boto3_browse.py). Prints the calls each made (counted
# in moto's request log) and their wall times; doc/performance.md keeps the
# figures. Run after scripts/build.sh, on an otherwise idle machine.
#   scripts/bench-wire.sh [COUNT] [BUILD_DIR]
set -euo pipefail
COUNT="${1:-1000}"
BUILD="${2:-build}"
HOST_BIN="$BUILD/bin/amazon-host"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
command -v moto_server >/dev/null || { echo "bench-wire: moto_server is not on PATH (pip install 'moto[server]')"; exit 1; }
[ -x "$HOST_BIN" ] || { echo "bench-wire: $HOST_BIN not built"; exit 1; }
NAME=bench-wire
export MOTO_EC2_LOAD_DEFAULT_AMIS=false
# shellcheck source=scripts/moto-env.sh
source "$ROOT/scripts/moto-env.sh"
python3 "$ROOT/bench/seed_moto_inventory.py" "$ENDPOINT" "$WORK/ca.pem" "$COUNT"

BASE="$WORK/base"; mkdir -p "$BASE"
cp "$WORK/ca.pem" "$BASE/curl-ca-bundle.crt"
printf '[Base]\nsCurlConnectTo=%s\n' "$CONNECT_TO" > "$BASE/settings.ini"
requests() { grep -c '" [0-9][0-9][0-9] ' "$WORK/moto.log" || true; }

before=$(requests)
start=$(date +%s.%N)
AGENT_BASE_DIR="$BASE" "$HOST_BIN" --backend aws --real-time browse '\Region View\us-east-1' \
  --url us-east-1 --access-key AKIAMOTOBENCH0000001 --secret-key bench > "$WORK/browse.txt"
wire_seconds=$(python3 -c "import sys; print(round(float(sys.argv[2]) - float(sys.argv[1]), 3))" "$start" "$(date +%s.%N)")
wire_calls=$(( $(requests) - before ))
listed=$(grep -c '(i-' "$WORK/browse.txt" || true)

before=$(requests)
boto=$(python3 "$ROOT/bench/boto3_browse.py" "$ENDPOINT" "$WORK/ca.pem")
boto_calls=$(( $(requests) - before ))
python3 - "$COUNT" "$listed" "$wire_calls" "$wire_seconds" "$boto_calls" "$boto" <<'PY'
import json, sys
count, listed, wire_calls, wire_seconds, boto_calls, boto = sys.argv[1:7]
boto = json.loads(boto)
print("instances seeded %s; listed by the wire backend %s, by boto3 %s" % (count, listed, boto["instances"]))
print("wire backend: %s calls, %.2f s (the host process: load, connect, browse)" % (wire_calls, float(wire_seconds)))
print("boto3:        %s calls, %.2f s (clients made, identity, describes)" % (boto_calls, boto["seconds"]))
print("ratio boto3/wire: calls %.2f, time %.2f" % (int(boto_calls) / max(1, int(wire_calls)),
                                                boto["seconds"] / max(0.001, float(wire_seconds))))
PY
