#!/usr/bin/env bash
# Installs, builds and runs the main job against the embedded simulated cloud.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release >/dev/null
export AGENT_BASE_DIR="${AGENT_BASE_DIR:-$PWD/agent-base}"
host=build/bin/amazon-host
tool=build/bin/cloudsim-tool
echo "== agent base folder: $AGENT_BASE_DIR (log: $AGENT_BASE_DIR/Log/agent.log)"
echo "== connect"
$host demo
# EBS direct reads go over HTTPS to the simulated endpoints, under the real
# AWS host names, verified against the endpoints' own CA.
echo "== start the simulated EBS direct, metadata and IP-ranges endpoints"
coproc ENDPOINTS { exec $tool serve --base "$AGENT_BASE_DIR"; }
trap 'kill "$ENDPOINTS_PID" 2>/dev/null || true' EXIT
read -r banner <&"${ENDPOINTS[0]}"
echo "$banner"
echo "== browse the demo account"
$host browse
# The backups run in the admin account, where the proxy lives: a hot-add
# backup needs the proxy and the instance in one account.
instance=i-0fedcba9876540002
volume=vol-0fedcba987654b001
backup() {  # mode chain-folder
  $host backup --job demo/backup-job.json --instance "$instance" --mode "$1" --out "$2"
}
check() {  # chain-folder: rebuild the last point and compare it with the volume now
  rm -rf "$1.restored"
  $host restore-image --chain "$1" --out "$1.restored"
  $tool verify --base "$AGENT_BASE_DIR" --manifest "$1.restored/manifest.json"
}
# The hot-add chain is replicated after each of its backups: the replica
# lives in the proxy's account, in a zone that is neither the proxy's nor
# the instance's; the second cycle writes only the changed blocks.
replicate() {  # chain-folder expected-mode expected-blocks
  local out replica
  out=$($host replicate --account admin --instance "$instance" --chain "$1" --name outpost-worker-replica \
    --zone us-east-1c | tee /dev/stderr)
  replica=$(sed -n 's/.* as replica \(i-[0-9a-f]*\) .*/\1/p' <<<"$out")
  grep -q ": $2 cycle, $3 blocks written" <<<"$out" ||
    { echo "expected a $2 cycle writing $3 blocks" >&2; exit 1; }
  echo "== verify the replica $replica against the chain's last point, block for block"
  rm -rf "$1.restored"
  $host restore-image --chain "$1" --out "$1.restored"
  $tool verify-restore --base "$AGENT_BASE_DIR" --manifest "$1.restored/manifest.json" --instance "$replica" \
    --name outpost-worker-replica --zone us-east-1c
}
# Each mode changes blocks of its own: edit, allocate, zero (an allocated one).
changes=("1 200 2" "3 202 200")
round=0
for mode in HOTADD EBS-DIRECT-API; do
  read -r edit allocate zero <<<"${changes[$round]}"
  chain="$AGENT_BASE_DIR/Backups/outpost-worker-$mode"
  rm -rf "$chain" "$chain.restored"
  echo "== $mode: full backup of outpost-worker (reads every allocated block)"
  backup "$mode" "$chain"
  check "$chain"
  if [ "$mode" = HOTADD ]; then
    echo "== replicate the full point of outpost-worker: the first cycle writes every block with data"
    replicate "$chain" full 7
  fi
  echo "== the guest changes one block, allocates another and zeroes a third"
  $tool guest-write --base "$AGENT_BASE_DIR" --volume "$volume" --block "$edit" --text "edited in the $mode demo"
  $tool guest-write --base "$AGENT_BASE_DIR" --volume "$volume" --block "$allocate" --text "new data, $mode demo"
  $tool guest-write --base "$AGENT_BASE_DIR" --volume "$volume" --block "$zero" --zero yes
  echo "== $mode: incremental backup (reads only the 3 changed blocks)"
  backup "$mode" "$chain"
  echo "== rebuild the incremental's image from the chain and verify it against the changed volume"
  check "$chain"
  if [ "$mode" = HOTADD ]; then
    echo "== replicate again: only the 3 changed blocks go onto volumes made from the integrity snapshot"
    replicate "$chain" incremental 3
  fi
  round=$((round + 1))
done
# An instance of the source account, in another region than the proxy,
# backed up through the proxy in the admin account: by hot-add its snapshots
# are copied to the proxy's region under the source account's custom key
# "alias/keld-ec2" and shared with the admin account, whose volumes are read;
# by direct read the snapshots are read where they are. Neither leaves a
# share, a copy or a volume behind.
for mode in HOTADD EBS-DIRECT-API; do
  chain="$AGENT_BASE_DIR/Backups/analytics-01-$mode"
  rm -rf "$chain" "$chain.restored"
  echo "== $mode: backup of analytics-01 (source account, us-west-2) through the admin account's proxy"
  $host backup --job demo/job.json --instance i-0a1b2c3d4e5f60004 --mode "$mode" --out "$chain"
  check "$chain"
done
# The last point of the hot-add chain becomes a new instance in another
# zone of the proxy's account: the data mover writes the point's data into
# volumes made next to the proxy, which then move to the zone asked for.
chain="$AGENT_BASE_DIR/Backups/outpost-worker-HOTADD"
echo "== restore the last point of outpost-worker as a new instance in us-east-1c"
restored=$($host restore --account admin --chain "$chain" --name outpost-worker-restored --zone us-east-1c --type t3.small |
  tee /dev/stderr | sed -n 's/.* as instance \(i-[0-9a-f]*\) .*/\1/p')
echo "== verify the restored instance $restored against the point, block for block"
rm -rf "$chain.restored"
$host restore-image --chain "$chain" --out "$chain.restored"
$tool verify-restore --base "$AGENT_BASE_DIR" --manifest "$chain.restored/manifest.json" --instance "$restored" \
  --name outpost-worker-restored --zone us-east-1c --type t3.small
# A file of the backup goes back into the running instance through SSM
# run-command and the S3 staging bucket (the simulated disks hold blocks,
# not a file system, so the "file" is the image's first block).
echo "== restore a file from the backup into the running outpost-worker, then list it and run a script there"
dd if="$chain.restored/$volume.img" of="$AGENT_BASE_DIR/block0.bin" bs=512K count=1 status=none
$host guest-restore --job demo/backup-job.json --instance "$instance" \
  --file "$AGENT_BASE_DIR/block0.bin" --to /srv/restored/block0.bin
$host guest-browse --job demo/backup-job.json --instance "$instance" /srv/restored
printf 'echo restored block0.bin\n' >"$AGENT_BASE_DIR/list.sh"
$host guest-run --job demo/backup-job.json --instance "$instance" --script "$AGENT_BASE_DIR/list.sh"
grep -c "Creating rest api connection." "$AGENT_BASE_DIR/Log/agent.log" |
  xargs printf "== EBS direct connections opened by reader threads so far: %s\n"
# A snap backup leaves the data in EBS snapshots that the snapshot manager
# takes and records; the plug-in writes the metadata that a later backup
# copy, browse or revert reads back.
echo "== snap backup of outpost-worker through the snapshot manager"
$host snap-backup --job demo/backup-job.json --instance "$instance" --job-id 3001 | tee /dev/stderr |
  grep -q "snap backup of job 3001 (job-level) done" || { echo "the snap backup did not complete" >&2; exit 1; }
echo "== what the snapshot manager holds, each metadata file read back"
listing=$($host snap-list | tee /dev/stderr)
grep -q "file backup_3001.xml: snap metadata of job 3001: $volume ($instance, error code 0)" <<<"$listing" ||
  { echo "the snap backup's metadata did not read back" >&2; exit 1; }
# A backup copy of that snap backup: the snapshot manager makes volumes of
# its snapshots for the proxy, the data mover reads them, and the copy is a
# backup point like any other. A block written after the snapshots were
# taken must not be in it.
echo "== write a block of outpost-worker after its snap backup"
$tool guest-write --base "$AGENT_BASE_DIR" --volume "$volume" --block 7 --text "written after the snap backup"
copy="$AGENT_BASE_DIR/Backups/outpost-worker-copy-3001"
rm -rf "$copy" "$copy.restored"
echo "== backup copy of snap job 3001 (hot-add)"
$host backup --job demo/backup-job.json --copy-of 3001 --mode HOTADD --out "$copy" | tee /dev/stderr |
  grep "done: full copy of snap job 3001" >/dev/null || { echo "the backup copy did not complete" >&2; exit 1; }
echo "== verify the copy against the snapshots snap job 3001 took, block for block"
$host restore-image --chain "$copy" --out "$copy.restored"
$tool verify --base "$AGENT_BASE_DIR" --manifest "$copy.restored/manifest.json" --snap-job 3001
# A revert puts the instance's volumes back to what snap job 3001 took: the
# snapshot manager makes volumes of the snapshots, and they replace the
# instance's volumes in place (the block written since is gone again).
echo "== revert outpost-worker to snap job 3001, then check its volumes against the snapshots"
$host revert --job demo/backup-job.json --snap-job 3001 --instance "$instance"
$tool verify-revert --base "$AGENT_BASE_DIR" --instance "$instance" --snap-job 3001
echo "== clean-up of what dead jobs left"
$host cleanup
