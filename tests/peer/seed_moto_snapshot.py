#!/usr/bin/env python3
"""Seeds an EBS snapshot through boto3 against a moto server, for the peer test.

Usage: seed_moto_snapshot.py ENDPOINT_URL CA_FILE OUT_FOLDER
Uploads a few 512 KiB blocks of a 1 GiB volume, with gaps between them, and
completes the snapshot. One block is stored with the checksum of other bytes,
so that a client that checks the checksum header must refuse it. Each
uploaded block's bytes go to OUT_FOLDER/block-INDEX.bin; stdout is one JSON
object: {"snapshotId", "blockSize" (as the server listed it), "badIndex",
"blocks": [{"index", "token"}]} with the blocks as ListSnapshotBlocks listed
them. Exits 3 when boto3 is not installed.
"""
import base64
import hashlib
import json
import os
import sys

try:
    import boto3
    from botocore.config import Config
except ImportError:
    sys.exit(3)

BLOCK_SIZE = 524288
# Gaps before, between and after the allocated blocks; the last block of the
# volume sits far from the others.
GOOD_BLOCKS = [1, 2, 5, 9, 2047]
BAD_BLOCK = 2040


def block_bytes(index):
    # Different for every block and every offset within it.
    return hashlib.shake_256(b"moto peer block %d" % index).digest(BLOCK_SIZE)


def checksum(data):
    return base64.b64encode(hashlib.sha256(data).digest()).decode()


def main():
    endpoint, ca_file, out_folder = sys.argv[1:4]
    ebs = boto3.client("ebs", region_name="us-east-1", endpoint_url=endpoint, verify=ca_file,
                       aws_access_key_id="AKIAMOTOPEER00000001", aws_secret_access_key="moto-peer-secret",
                       config=Config(retries={"max_attempts": 1}))
    snapshot = ebs.start_snapshot(VolumeSize=1, Description="peer test")["SnapshotId"]
    for index in GOOD_BLOCKS + [BAD_BLOCK]:
        data = block_bytes(index)
        stated = checksum(block_bytes(index + 1) if index == BAD_BLOCK else data)
        ebs.put_snapshot_block(SnapshotId=snapshot, BlockIndex=index, BlockData=data, DataLength=len(data),
                               Checksum=stated, ChecksumAlgorithm="SHA256")
        with open(os.path.join(out_folder, "block-%d.bin" % index), "wb") as out:
            out.write(data)
    ebs.complete_snapshot(SnapshotId=snapshot, ChangedBlocksCount=len(GOOD_BLOCKS) + 1)
    listed = ebs.list_snapshot_blocks(SnapshotId=snapshot)
    print(json.dumps({
        "snapshotId": snapshot,
        "blockSize": listed["BlockSize"],
        "badIndex": BAD_BLOCK,
        "blocks": [{"index": int(b["BlockIndex"]), "token": b["BlockToken"]} for b in listed["Blocks"]],
    }))


if __name__ == "__main__":
    main()
