#!/usr/bin/env python3
"""Prints a GetSnapshotBlock request signed by botocore, for fixed inputs.

Usage: sign_get_snapshot_block.py ACCESS_KEY SECRET_KEY REGION SNAPSHOT INDEX TOKEN EPOCH_SECONDS
Output: the method and the URL on the first line, then one "Name: value"
line per header. Exits 3 when botocore is not installed.
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
    access, secret, region, snapshot, index, token, epoch = sys.argv[1:8]
    fixed = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)

    class FixedDateTime(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return fixed.replace(tzinfo=None)

        @classmethod
        def now(cls, tz=None):
            return fixed if tz else fixed.replace(tzinfo=None)

    host = "ebs.%s.amazonaws.com" % region
    request = AWSRequest(method="GET",
                         url="https://%s/snapshots/%s/blocks/%s" % (host, snapshot, index),
                         params={"blockToken": token})
    with mock.patch("botocore.auth.datetime.datetime", FixedDateTime):
        SigV4Auth(Credentials(access, secret), "ebs", region).add_auth(request)
    prepared = request.prepare()
    print("GET " + prepared.url)
    print("Host: " + host)
    for name, value in prepared.headers.items():
        print("%s: %s" % (name, value))


if __name__ == "__main__":
    main()
