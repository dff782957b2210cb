#!/usr/bin/env python3
"""Prints a GetSnapshotBlock request signed by botocore, for fixed inputs.

Usage: sign_get_snapshot_block.py ACCESS_KEY SECRET_KEY REGION SNAPSHOT INDEX TOKEN EPOCH_SECONDS
Output: the method and the URL on the first line, then one "Name: value"
line per header. Exits 3 when botocore is not installed.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
try:
    import botocore_request
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, snapshot, index, token, epoch = sys.argv[1:8]
    request = botocore_request.snapshot_block_request(region, snapshot, index, token)
    botocore_request.sign(request, access, secret, region, epoch)
    prepared = request.prepare()
    print("GET " + prepared.url)
    print("Host: " + botocore_request.ebs_host(region))
    for name, value in prepared.headers.items():
        print("%s: %s" % (name, value))


if __name__ == "__main__":
    main()
