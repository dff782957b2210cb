#!/usr/bin/env python3
"""The inventory browse a user would script with boto3: the account, every
region's zones, instances and the instances' volumes, through boto3's
paginators. Prints one JSON object: {"instances", "calls", "seconds"}
(the clients' creation included, the import of boto3 not).

Usage: boto3_browse.py ENDPOINT_URL CA_FILE
"""
import json
import sys
import time

import boto3
from botocore.config import Config


def main():
    endpoint, ca = sys.argv[1:3]
    calls = [0]

    def count(**unused):
        calls[0] += 1

    start = time.monotonic()
    session = boto3.session.Session(aws_access_key_id="AKIAMOTOBENCH0000001", aws_secret_access_key="bench")
    session.events.register("before-send", count)

    def client(service, region):
        return session.client(service, region_name=region, endpoint_url=endpoint, verify=ca,
                              config=Config(retries={"max_attempts": 1}))

    client("sts", "us-east-1").get_caller_identity()
    instances = 0
    for region in [r["RegionName"] for r in client("ec2", "us-east-1").describe_regions()["Regions"]]:
        ec2 = client("ec2", region)
        ec2.describe_availability_zones()
        for page in ec2.get_paginator("describe_instances").paginate(PaginationConfig={"PageSize": 1000}):
            instances += sum(len(r["Instances"]) for r in page["Reservations"])
        for page in ec2.get_paginator("describe_volumes").paginate(PaginationConfig={"PageSize": 1000}):
            pass
    print(json.dumps({"instances": instances, "calls": calls[0], "seconds": round(time.monotonic() - start, 3)}))


if __name__ == "__main__":
    main()
