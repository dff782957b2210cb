# Sourced by scripts/moto-demo.sh and scripts/bench-wire.sh: starts moto
# through tests/peer/moto_launcher.py under a throwaway CA whose certificate
# names the real EC2, STS and EBS host names of every region, and ends it
# (and $IMDS_PID, when set) when the sourcing script exits. Expects ROOT and
# NAME (the caller's name, for messages and the work folder); sets WORK,
# PORT, MOTO_PID, CONNECT_TO (the connect-to table for those hosts) and
# ENDPOINT. MOTO_EC2_LOAD_DEFAULT_AMIS=false in the environment starts moto
# without its built-in public images.
WORK="$(mktemp -d "/tmp/$NAME.XXXXXX")"
MOTO_PID=""; IMDS_PID=""
cleanup() {
  [ -n "$MOTO_PID" ] && kill "$MOTO_PID" 2>/dev/null
  [ -n "$IMDS_PID" ] && kill "$IMDS_PID" 2>/dev/null
  wait 2>/dev/null || true
}
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
  -days 1 -subj "/CN=$NAME-ca" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$WORK/server.key" -out "$WORK/server.csr" \
  -subj /CN=moto 2>/dev/null
echo "subjectAltName=$SAN" > "$WORK/ext"
openssl x509 -req -in "$WORK/server.csr" -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
  -out "$WORK/server.pem" -days 1 -extfile "$WORK/ext" 2>/dev/null

python3 "$ROOT/tests/peer/moto_launcher.py" -H 127.0.0.1 -p "$PORT" -c "$WORK/server.pem" -k "$WORK/server.key" \
  >"$WORK/moto.log" 2>&1 &
MOTO_PID=$!
for _ in $(seq 1 100); do grep -q "Running on" "$WORK/moto.log" && break; sleep 0.2; done
grep -q "Running on" "$WORK/moto.log" || { echo "$NAME: moto did not start"; cat "$WORK/moto.log"; exit 1; }
ENDPOINT="https://127.0.0.1:$PORT"
