#!/usr/bin/env python3
"""Prints the Authorization value botocore computes for an EBS direct GET.

Usage: botocore_authorization.py ACCESS SECRET REGION HOST PATH EPOCH [NAME=VALUE ...]
Query parameters are given unencoded. The signed headers are accept
(application/json), host and x-amz-date. Exits 3 when botocore is missing.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
try:
    import botocore_request
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, host, path, epoch = sys.argv[1:7]
    params = dict(arg.split("=", 1) for arg in sys.argv[7:])
    request = botocore_request.get_request(host, path, params, {"Accept": "application/json"})
    botocore_request.sign(request, access, secret, region, epoch)
    print(request.headers["Authorization"])


if __name__ == "__main__":
    main()
