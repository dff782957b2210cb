#!/usr/bin/env python3
"""Seeds moto with what an EBS direct backup needs, through boto3: a snapshot
written through the EBS direct APIs, an instance whose root volume is made
from it, and the proxy instance the backup runs on.

Usage: seed_moto_backup.py ENDPOINT_URL CA_FILE EXPECTED_IMAGE
The blocks are written in the block size the service lists for the snapshot,
spread over a 1 GiB volume (its first and last block among them).
EXPECTED_IMAGE becomes the volume's bytes as a sparse file. stdout is one
JSON object: {"source", "proxy", "zone", "snapshotId", "volumeId",
"blockSize", "blocks"}. Exits 3 when boto3 is not installed.
"""
import base64
import hashlib
import json
import sys

try:
    import boto3
    from botocore.config import Config
except ImportError:
    sys.exit(3)

VOLUME_GIB = 1
ZONE = "us-east-1a"


def block_bytes(index, size):
    # Different for every block and every offset within it.
    return hashlib.shake_256(b"moto backup block %d" % index).digest(size)


def main():
    endpoint, ca_file, expected = sys.argv[1:4]
    common = dict(region_name="us-east-1", endpoint_url=endpoint, verify=ca_file,
                  aws_access_key_id="AKIAMOTOBACKUP000001", aws_secret_access_key="moto-backup-secret",
                  config=Config(retries={"max_attempts": 1}))
    ebs = boto3.client("ebs", **common)
    ec2 = boto3.client("ec2", **common)

    snapshot = ebs.start_snapshot(VolumeSize=VOLUME_GIB, Description="seeded for a backup")["SnapshotId"]
    block_size = ebs.list_snapshot_blocks(SnapshotId=snapshot)["BlockSize"]
    last = VOLUME_GIB * (1 << 30) // block_size - 1
    blocks = [0, 1, 7, 1023, 1024, 4095, 65537, 300000, last]
    with open(expected, "wb") as image:
        image.truncate(VOLUME_GIB << 30)
        for index in blocks:
            data = block_bytes(index, block_size)
            ebs.put_snapshot_block(SnapshotId=snapshot, BlockIndex=index, BlockData=data, DataLength=len(data),
                                   Checksum=base64.b64encode(hashlib.sha256(data).digest()).decode(),
                                   ChecksumAlgorithm="SHA256")
            image.seek(index * block_size)
            image.write(data)
    ebs.complete_snapshot(SnapshotId=snapshot, ChangedBlocksCount=len(blocks))

    # An image of the account's own to launch from: the server may run
    # without moto's built-in public ones.
    image_id = ec2.register_image(Name="moto-backup-base", RootDeviceName="/dev/sda1",
                                  BlockDeviceMappings=[{"DeviceName": "/dev/sda1",
                                                        "Ebs": {"SnapshotId": snapshot}}])["ImageId"]

    def launch(name, mappings):
        kwargs = dict(ImageId=image_id, InstanceType="t3.micro", MinCount=1, MaxCount=1,
                      Placement={"AvailabilityZone": ZONE},
                      TagSpecifications=[{"ResourceType": "instance", "Tags": [{"Key": "Name", "Value": name}]}])
        if mappings:
            kwargs["BlockDeviceMappings"] = mappings
        return ec2.run_instances(**kwargs)["Instances"][0]

    source = launch("moto-source", [{"DeviceName": "/dev/sda1",
                                     "Ebs": {"SnapshotId": snapshot, "VolumeSize": VOLUME_GIB}}])
    proxy = launch("moto-proxy", None)
    volume = source["BlockDeviceMappings"][0]["Ebs"]["VolumeId"]
    print(json.dumps({"source": source["InstanceId"], "proxy": proxy["InstanceId"], "zone": ZONE,
                      "snapshotId": snapshot, "volumeId": volume, "blockSize": block_size, "blocks": blocks}))


if __name__ == "__main__":
    main()
