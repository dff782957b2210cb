#!/usr/bin/env bash
# The host program through the bridge's wire backend against moto_server:
# starts moto under a throwaway CA whose certificate names the real EC2, STS
# and EBS host names of every region, seeds three instances with boto3, runs
# connect and browse with --backend aws, and stops moto. Needs moto[server],
# boto3 and openssl; run after scripts/build.sh.
#   scripts/moto-demo.sh [BUILD_DIR]
set -euo pipefail
BUILD="${1:-build}"
HOST_BIN="$BUILD/bin/amazon-host"
command -v moto_server >/dev/null || { echo "moto-demo: moto_server is not on PATH (pip install 'moto[server]')"; exit 1; }
[ -x "$HOST_BIN" ] || { echo "moto-demo: $HOST_BIN not built"; exit 1; }
WORK="$(mktemp -d /tmp/moto-demo.XXXXXX)"
MOTO_PID=""
cleanup() { [ -n "$MOTO_PID" ] && kill "$MOTO_PID" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT
PORT=45$((RANDOM % 900 + 100))
# moto lists the regions of every partition (AWS lists its own partition's),
# so the connect-to table names them all.
HOSTS=$(python3 -c '
import botocore.session
s = botocore.session.get_session()
for p in s.get_available_partitions():
    suffix = ".amazonaws.com.cn" if p == "aws-cn" else ".amazonaws.com"
    for r in s.get_available_regions("ec2", partition_name=p):
        for svc in ("ec2", "sts", "ebs"):
            print(svc + "." + r + suffix)')

# Certificates: a CA for the agent's bundle, a server certificate for moto.
SAN="IP:127.0.0.1"; CONNECT_TO=""
for h in $HOSTS; do
  SAN="$SAN,DNS:$h"
  CONNECT_TO="${CONNECT_TO:+$CONNECT_TO,}$h:443:127.0.0.1:$PORT"
done
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$WORK/ca.key" -out "$WORK/ca.pem" \
  -days 1 -subj /CN=moto-demo-ca 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$WORK/server.key" -out "$WORK/server.csr" \
  -subj /CN=moto 2>/dev/null
echo "subjectAltName=$SAN" > "$WORK/ext"
openssl x509 -req -in "$WORK/server.csr" -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
  -out "$WORK/server.pem" -days 1 -extfile "$WORK/ext" 2>/dev/null

moto_server -H 127.0.0.1 -p "$PORT" -c "$WORK/server.pem" -k "$WORK/server.key" >"$WORK/moto.log" 2>&1 &
MOTO_PID=$!
for _ in $(seq 1 100); do grep -q "Running on" "$WORK/moto.log" && break; sleep 0.2; done
grep -q "Running on" "$WORK/moto.log" || { echo "moto-demo: moto did not start"; cat "$WORK/moto.log"; exit 1; }

python3 - "$PORT" "$WORK/ca.pem" <<'PY'
import sys, boto3
ec2 = boto3.client("ec2", region_name="us-east-1", endpoint_url="https://127.0.0.1:%s" % sys.argv[1],
                   verify=sys.argv[2], aws_access_key_id="AKIAMOTODEMO", aws_secret_access_key="demo")
image = ec2.describe_images(Owners=["amazon"])["Images"][0]["ImageId"]
for name in ("web-1", "web-2", "db-1"):
    ec2.run_instances(ImageId=image, InstanceType="t3.micro", MinCount=1, MaxCount=1,
                      TagSpecifications=[{"ResourceType": "instance", "Tags": [{"Key": "Name", "Value": name}]}])
PY

BASE="$WORK/base"; mkdir -p "$BASE"
cp "$WORK/ca.pem" "$BASE/curl-ca-bundle.crt"
printf '[Base]\nsCurlConnectTo=%s\n' "$CONNECT_TO" > "$BASE/settings.ini"
export AGENT_BASE_DIR="$BASE"
KEYS=(--url us-east-1 --access-key AKIAMOTODEMO --secret-key demo)
"$HOST_BIN" --backend aws --real-time connect "${KEYS[@]}"
"$HOST_BIN" --backend aws --real-time browse '\Region View\us-east-1' "${KEYS[@]}"
echo "moto-demo: done (work folder $WORK)"
