#!/usr/bin/env python3
"""Prints an EBS direct GET signed by botocore, for fixed inputs.

Usage: botocore_sign_get.py ACCESS SECRET REGION HOST PATH EPOCH [NAME=VALUE ...]
Query parameters are given unencoded; accept (application/json), host and
x-amz-date are signed. Output: the method and the URL on the first line,
then one "Name: value" line per header. Exits 3 when botocore is missing.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import botocore_request
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, host, path, epoch = sys.argv[1:7]
    params = dict(arg.split("=", 1) for arg in sys.argv[7:])
    request = botocore_request.get_request(host, path, params, {"Accept": "application/json"})
    botocore_request.sign(request, access, secret, region, epoch)
    prepared = request.prepare()
    print("GET " + prepared.url)
    print("Host: " + host)
    for name, value in prepared.headers.items():
        print("%s: %s" % (name, value))


if __name__ == "__main__":
    main()
