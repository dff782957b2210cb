#!/usr/bin/env python3
"""Prints the Authorization value botocore computes for an EBS direct GET.

Usage: botocore_authorization.py ACCESS SECRET REGION HOST PATH EPOCH [NAME=VALUE ...]
Query parameters are given unencoded. The signed headers are accept
(application/json), host and x-amz-date. Exits 3 when botocore is missing.
"""
import datetime
import sys
from unittest import mock

try:
    from botocore.auth import SigV4Auth
    from botocore.awsrequest import AWSRequest
    from botocore.credentials import Credentials
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, host, path, epoch = sys.argv[1:7]
    params = dict(arg.split("=", 1) for arg in sys.argv[7:])
    fixed = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)

    class FixedDateTime(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return fixed.replace(tzinfo=None)

        @classmethod
        def now(cls, tz=None):
            return fixed if tz else fixed.replace(tzinfo=None)

    request = AWSRequest(method="GET", url="https://%s%s" % (host, path), params=params,
                         headers={"Accept": "application/json"})
    with mock.patch("botocore.auth.datetime.datetime", FixedDateTime):
        SigV4Auth(Credentials(access, secret), "ebs", region).add_auth(request)
    print(request.headers["Authorization"])


if __name__ == "__main__":
    main()
