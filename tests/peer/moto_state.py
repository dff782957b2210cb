#!/usr/bin/env python3
"""What the account holds in moto, as one sorted JSON object, so that a test
can tell what a job left: the account's own images, snapshots, volumes, the
accounts each snapshot is shared with, and the tags of what exists (moto's built-in public images and their snapshots left out).

Usage: moto_state.py ENDPOINT_URL CA_FILE
Exits 3 when boto3 is not installed.
"""
import json
import sys

try:
    import boto3
except ImportError:
    sys.exit(3)


def main():
    endpoint, ca_file = sys.argv[1:3]
    ec2 = boto3.client("ec2", region_name="us-east-1", endpoint_url=endpoint, verify=ca_file,
                       aws_access_key_id="AKIAMOTOSTATE0000001", aws_secret_access_key="moto-state-secret")
    # moto lists the snapshots of its built-in public images as the
    # account's own; they are not the account's doing.
    public = {m["Ebs"]["SnapshotId"] for i in ec2.describe_images(Owners=["amazon"])["Images"]
              for m in i.get("BlockDeviceMappings", []) if "Ebs" in m}
    state = {
        "images": sorted(i["ImageId"] for i in ec2.describe_images(Owners=["self"])["Images"]),
        "snapshots": sorted(s["SnapshotId"] for s in ec2.describe_snapshots(OwnerIds=["self"])["Snapshots"]
                            if s["SnapshotId"] not in public),
        "volumes": sorted(v["VolumeId"] for v in ec2.describe_volumes()["Volumes"]),
    }
    state["shared"] = {}
    for snapshot in state["snapshots"]:
        grants = ec2.describe_snapshot_attribute(SnapshotId=snapshot, Attribute="createVolumePermission")
        users = sorted(p["UserId"] for p in grants.get("CreateVolumePermissions", []) if "UserId" in p)
        if users:
            state["shared"][snapshot] = users
    instances = {i["InstanceId"] for r in ec2.describe_instances()["Reservations"] for i in r["Instances"]}
    # moto keeps the tags of deleted resources, which AWS drops with them.
    exist = set(state["images"]) | set(state["snapshots"]) | set(state["volumes"]) | instances
    state["tags"] = sorted("%s %s=%s" % (t["ResourceId"], t["Key"], t["Value"])
                           for t in ec2.describe_tags()["Tags"] if t["ResourceId"] in exist)
    print(json.dumps(state, indent=1, sort_keys=True))


if __name__ == "__main__":
    main()
