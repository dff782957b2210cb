#!/usr/bin/env python3
"""Times botocore's SigV4 signer on one GetSnapshotBlock request.

Usage: botocore_sign.py ACCESS_KEY SECRET_KEY REGION SNAPSHOT INDEX TOKEN EPOCH_SECONDS ITERATIONS
Prints the microseconds per signature (add_auth on a fresh request, the way
a client signs every request). Exits 3 when botocore is not installed.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
try:
    import botocore_request
except ImportError:
    sys.exit(3)


def main():
    access, secret, region, snapshot, index, token, epoch, iterations = sys.argv[1:9]
    iterations = int(iterations)
    extra = {"Action": "GetSnapshotBlock", "Version": "2020-05-11"}
    requests = [botocore_request.snapshot_block_request(region, snapshot, index, token, extra)
                for _ in range(iterations)]
    signer = botocore_request.signer(access, secret, region)
    with botocore_request.frozen_clock(epoch):
        start = time.perf_counter()
        for request in requests:
            signer.add_auth(request)
        elapsed = time.perf_counter() - start
    print("%.3f" % (elapsed * 1e6 / iterations))


if __name__ == "__main__":
    main()
