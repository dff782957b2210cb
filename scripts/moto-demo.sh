#!/usr/bin/env bash
# The host program through the bridge's wire backend against moto: starts
# moto (through tests/peer/moto_launcher.py, which teaches it AWS's
# CreateImage and that a snapshot of a volume carries its blocks) under a
# throwaway CA whose certificate names the real EC2, STS and EBS host names
# of every region; seeds it with boto3 (three web instances, a snapshot
# written through the EBS direct APIs, an instance whose volume is made from
# it, and the proxy instance, whose metadata service tests/peer/
# proxy_metadata.py plays); runs connect, browse and an EBS-DIRECT-API
# backup with --backend aws; rebuilds the backup's image and compares it
# with the seeded bytes; runs an incremental that reads nothing; and stops
# moto. Needs moto[server], boto3 and openssl; run after scripts/build.sh.
#   scripts/moto-demo.sh [BUILD_DIR]
set -euo pipefail
BUILD="${1:-build}"
HOST_BIN="$BUILD/bin/amazon-host"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
command -v moto_server >/dev/null || { echo "moto-demo: moto_server is not on PATH (pip install 'moto[server]')"; exit 1; }
[ -x "$HOST_BIN" ] || { echo "moto-demo: $HOST_BIN not built"; exit 1; }
NAME=moto-demo
# shellcheck source=scripts/moto-env.sh
source "$ROOT/scripts/moto-env.sh"
IMDS_PORT=$((PORT + 1))

python3 - "$PORT" "$WORK/ca.pem" <<'PY'
import sys, boto3
ec2 = boto3.client("ec2", region_name="us-east-1", endpoint_url="https://127.0.0.1:%s" % sys.argv[1],
                   verify=sys.argv[2], aws_access_key_id="AKIAMOTODEMO", aws_secret_access_key="demo")
image = ec2.describe_images(Owners=["amazon"])["Images"][0]["ImageId"]
for name in ("web-1", "web-2", "db-1"):
    ec2.run_instances(ImageId=image, InstanceType="t3.micro", MinCount=1, MaxCount=1,
                      TagSpecifications=[{"ResourceType": "instance", "Tags": [{"Key": "Name", "Value": name}]}])
PY
SEEDED=$(python3 "$ROOT/tests/peer/seed_moto_backup.py" "https://127.0.0.1:$PORT" "$WORK/ca.pem" "$WORK/expected.img")
field() { python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$SEEDED" "$1"; }
SOURCE=$(field source); PROXY=$(field proxy); VOLUME=$(field volumeId)

# This machine plays the proxy instance: its metadata service names it, and
# its BIOS says it is an EC2 machine.
python3 "$ROOT/tests/peer/proxy_metadata.py" "$PROXY" "$(field zone)" "$IMDS_PORT" >"$WORK/imds.log" 2>&1 &
IMDS_PID=$!
for _ in $(seq 1 50); do grep -q "Running on" "$WORK/imds.log" && break; sleep 0.1; done
mkdir -p "$WORK/dmi"
echo "Amazon EC2" > "$WORK/dmi/sys_vendor"; echo "t3.micro" > "$WORK/dmi/product_name"
echo "ec2a1b2c-3d4e-5f60-7182-93a4b5c6d7e8" > "$WORK/dmi/product_uuid"; echo "1.0" > "$WORK/dmi/bios_version"

BASE="$WORK/base"; mkdir -p "$BASE"
cp "$WORK/ca.pem" "$BASE/curl-ca-bundle.crt"
# Nothing leaves the machine: the metadata address goes to the stand-in,
# the IP ranges document to moto (which has none; the VPC endpoint check
# then only warns), and the EBS host resolves to a private address.
CONNECT_TO="$CONNECT_TO,169.254.169.254:80:127.0.0.1:$IMDS_PORT,ip-ranges.amazonaws.com:443:127.0.0.1:$PORT"
# moto makes an AMI at once: poll it every second, not every two minutes.
printf '[Base]\nsCurlConnectTo=%s\nsDmiFolder=%s\nsHostAddresses=ebs.us-east-1.amazonaws.com=10.0.0.5\n' \
  "$CONNECT_TO" "$WORK/dmi" > "$BASE/settings.ini"
printf '[VirtualServer]\nAMIPollingDelayInSec=1\n' >> "$BASE/settings.ini"
export AGENT_BASE_DIR="$BASE"
KEYS=(--url us-east-1 --access-key AKIAMOTODEMO --secret-key demo)
"$HOST_BIN" --backend aws --real-time connect "${KEYS[@]}"
"$HOST_BIN" --backend aws --real-time browse '\Region View\us-east-1' "${KEYS[@]}"
"$HOST_BIN" --backend aws --real-time backup --instance "$SOURCE" --mode EBS-DIRECT-API --out "$WORK/chain" "${KEYS[@]}"
"$HOST_BIN" restore-image --chain "$WORK/chain" --out "$WORK/images"
cmp "$WORK/expected.img" "$WORK/images/$VOLUME.img"
echo "moto-demo: the rebuilt image of $VOLUME is the seeded volume, byte for byte"
"$HOST_BIN" --backend aws --real-time backup --instance "$SOURCE" --mode EBS-DIRECT-API --out "$WORK/chain" "${KEYS[@]}"
echo "moto-demo: done (work folder $WORK)"
