#!/usr/bin/env python3
"""Prints a Query-API GET presigned by botocore, for fixed inputs.

Usage: botocore_presign.py ACCESS SECRET SERVICE REGION HOST EPOCH EXPIRES [NAME=VALUE ...]
Parameters are given unencoded, in order (Action and Version among them).
Output: the URL. Exits 3 when botocore is missing.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import botocore_request
    from botocore.auth import SigV4QueryAuth
    from botocore.awsrequest import AWSRequest
    from botocore.credentials import Credentials
except ImportError:
    sys.exit(3)


def main():
    access, secret, service, region, host, epoch, expires = sys.argv[1:8]
    params = dict(arg.split("=", 1) for arg in sys.argv[8:])
    request = AWSRequest(method="GET", url="https://%s/" % host, params=params)
    with botocore_request.frozen_clock(epoch):
        SigV4QueryAuth(Credentials(access, secret), service, region, expires=int(expires)).add_auth(request)
    print(request.prepare().url)


if __name__ == "__main__":
    main()
