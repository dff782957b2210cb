#!/usr/bin/env python3
"""Seeds moto with COUNT instances in us-east-1 for the browse benchmark:
four instance types over three zones, each with a Name and an Env tag.

Usage: seed_moto_inventory.py ENDPOINT_URL CA_FILE COUNT
"""
import sys

import boto3

TYPES = ["t3.micro", "t3.large", "m5.large", "c5.xlarge"]
ZONES = ["us-east-1a", "us-east-1b", "us-east-1c"]


def main():
    endpoint, ca, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    ec2 = boto3.client("ec2", region_name="us-east-1", endpoint_url=endpoint, verify=ca,
                       aws_access_key_id="AKIAMOTOBENCH0000001", aws_secret_access_key="bench")
    image = ec2.register_image(Name="bench-base", RootDeviceName="/dev/sda1")["ImageId"]
    made, batch = 0, 50
    while made < count:
        n = min(batch, count - made)
        kind = made // batch
        ec2.run_instances(ImageId=image, MinCount=n, MaxCount=n, InstanceType=TYPES[kind % len(TYPES)],
                          Placement={"AvailabilityZone": ZONES[kind % len(ZONES)]},
                          TagSpecifications=[{"ResourceType": "instance", "Tags": [
                              {"Key": "Name", "Value": "bench-%d" % kind},
                              {"Key": "Env", "Value": ["prod", "test"][kind % 2]}]}])
        made += n


if __name__ == "__main__":
    main()
