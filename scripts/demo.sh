#!/usr/bin/env bash
# Installs, builds and runs the main job against the embedded simulated cloud.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release >/dev/null
export AGENT_BASE_DIR="${AGENT_BASE_DIR:-$PWD/agent-base}"
echo "== agent base folder: $AGENT_BASE_DIR (log: $AGENT_BASE_DIR/Log/agent.log)"
echo "== connect"
build/bin/amazon-host demo
# EBS direct reads go over HTTPS to the simulated endpoints, under the real
# AWS host names, verified against the endpoints' own CA.
echo "== start the simulated EBS direct, metadata and IP-ranges endpoints"
coproc ENDPOINTS { exec build/bin/cloudsim-tool serve --base "$AGENT_BASE_DIR"; }
trap 'kill "$ENDPOINTS_PID" 2>/dev/null || true' EXIT
read -r banner <&"${ENDPOINTS[0]}"
echo "$banner"
echo "== browse the demo account"
build/bin/amazon-host browse
# The backups run in the admin account, where the proxy lives: a hot-add
# backup needs the proxy and the instance in one account.
for mode in HOTADD EBS-DIRECT-API; do
  echo "== full backup of outpost-worker, $mode"
  out="$AGENT_BASE_DIR/Backups/outpost-worker-$mode"
  build/bin/amazon-host backup --job demo/backup-job.json --instance i-0fedcba9876540002 \
    --mode "$mode" --out "$out"
  echo "== verify the images against the cloud's volume"
  build/bin/cloudsim-tool verify --base "$AGENT_BASE_DIR" --manifest "$out/manifest.json"
done
grep -c "Creating rest api connection." "$AGENT_BASE_DIR/Log/agent.log" |
  xargs printf "== EBS direct connections opened by reader threads so far: %s\n"
echo "== clean-up of what dead jobs left"
build/bin/amazon-host cleanup
