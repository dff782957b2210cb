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
echo "== browse the demo account"
build/bin/amazon-host browse
