#!/usr/bin/env python3
"""Seeds instances through boto3 against a moto server, for the wire backend's peer test.

Usage: seed_moto_instances.py ENDPOINT_URL CA_FILE
Launches 7 t3.micro instances tagged Env=prod#blue (a "#"-joined value) and
5 m5.large instances tagged Env=test, each with its own Name tag, in
us-east-1a; a VPC named "restore-net" (10.20.0.0/16) holding the subnet
10.20.0.0/24 and in it one network interface attached to nothing. stdout is
one JSON object: {"prod": [ids], "test": [ids], "names": {id: name}, "vpc":
id, "subnet": id, "eni": id}. Exits 3 when boto3 is not installed.
"""
import json
import sys

try:
    import boto3
    from botocore.config import Config
except ImportError:
    sys.exit(3)


def main():
    endpoint, ca_file = sys.argv[1:3]
    ec2 = boto3.client("ec2", region_name="us-east-1", endpoint_url=endpoint, verify=ca_file,
                       aws_access_key_id="AKIAMOTOWIRE00000001", aws_secret_access_key="moto-wire-secret",
                       config=Config(retries={"max_attempts": 1}))
    image = ec2.describe_images(Owners=["amazon"])["Images"][0]["ImageId"]
    out = {"prod": [], "test": [], "names": {}}
    for group, kind, count, env in (("prod", "t3.micro", 7, "prod#blue"), ("test", "m5.large", 5, "test")):
        for i in range(count):
            name = "%s-%d" % (group, i)
            made = ec2.run_instances(ImageId=image, InstanceType=kind, MinCount=1, MaxCount=1,
                                     Placement={"AvailabilityZone": "us-east-1a"},
                                     TagSpecifications=[{"ResourceType": "instance", "Tags": [
                                         {"Key": "Name", "Value": name}, {"Key": "Env", "Value": env}]}])
            instance = made["Instances"][0]["InstanceId"]
            out[group].append(instance)
            out["names"][instance] = name
    vpc = ec2.create_vpc(CidrBlock="10.20.0.0/16", TagSpecifications=[{"ResourceType": "vpc", "Tags": [
        {"Key": "Name", "Value": "restore-net"}]}])["Vpc"]["VpcId"]
    subnet = ec2.create_subnet(VpcId=vpc, CidrBlock="10.20.0.0/24", AvailabilityZone="us-east-1a")
    out["vpc"] = vpc
    out["subnet"] = subnet["Subnet"]["SubnetId"]
    out["eni"] = ec2.create_network_interface(SubnetId=out["subnet"])["NetworkInterface"]["NetworkInterfaceId"]
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
