#!/usr/bin/env python3
"""Reads every allocated block of a snapshot with boto3's EBS client from a
pool of threads, as a user would script it, and prints MiB/s.

Usage: boto3_reader.py ENDPOINT_URL CA_FILE ACCESS_KEY SECRET_KEY REGION SNAPSHOT THREADS
"""
import concurrent.futures
import sys
import time

import boto3
from botocore.config import Config


def main():
    endpoint, ca, access, secret, region, snapshot, threads = sys.argv[1:8]
    threads = int(threads)
    client = boto3.client("ebs", endpoint_url=endpoint, verify=ca, region_name=region,
                          aws_access_key_id=access, aws_secret_access_key=secret,
                          config=Config(max_pool_connections=threads, retries={"max_attempts": 1}))
    blocks, more = [], {}
    while True:
        page = client.list_snapshot_blocks(SnapshotId=snapshot, **more)
        blocks.extend(page["Blocks"])
        if not page.get("NextToken"):
            break
        more = {"NextToken": page["NextToken"]}

    def read(block):
        answer = client.get_snapshot_block(SnapshotId=snapshot, BlockIndex=block["BlockIndex"],
                                           BlockToken=block["BlockToken"])
        return len(answer["BlockData"].read())

    start, cpu = time.perf_counter(), time.process_time()
    with concurrent.futures.ThreadPoolExecutor(max_workers=threads) as pool:
        total = sum(pool.map(read, blocks))
    elapsed, cpu = time.perf_counter() - start, time.process_time() - cpu
    print("%.1f MiB/s (%d blocks, %d bytes, client CPU %.0f us per block)"
          % (total / 1048576.0 / elapsed, len(blocks), total, cpu * 1e6 / max(1, len(blocks))))


if __name__ == "__main__":
    main()
