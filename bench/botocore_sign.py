#!/usr/bin/env python3
"""Times botocore's SigV4 signer on one GetSnapshotBlock request.

Usage: botocore_sign.py ACCESS_KEY SECRET_KEY REGION SNAPSHOT INDEX TOKEN EPOCH_SECONDS ITERATIONS
Prints the microseconds per signature (add_auth on a fresh request, the way
a client signs every request). Exits 3 when botocore is not installed.
"""
import datetime
import sys
import time
from unittest import mock

try:
    from botocore.auth import SigV4Auth
    from botocore.awsrequest import AWSRequest
    from botocore.credentials import Credentials
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, snapshot, index, token, epoch, iterations = sys.argv[1:9]
    iterations = int(iterations)
    fixed = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)

    class FixedDateTime(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return fixed.replace(tzinfo=None)

        @classmethod
        def now(cls, tz=None):
            return fixed if tz else fixed.replace(tzinfo=None)

    url = "https://ebs.%s.amazonaws.com/snapshots/%s/blocks/%s" % (region, snapshot, index)
    params = {"blockToken": token, "Action": "GetSnapshotBlock", "Version": "2020-05-11"}
    requests = [AWSRequest(method="GET", url=url, params=params) for _ in range(iterations)]
    signer = SigV4Auth(Credentials(access, secret), "ebs", region)
    with mock.patch("botocore.auth.datetime.datetime", FixedDateTime):
        start = time.perf_counter()
        for request in requests:
            signer.add_auth(request)
        elapsed = time.perf_counter() - start
    print("%.3f" % (elapsed * 1e6 / iterations))


if __name__ == "__main__":
    main()
