#!/usr/bin/env python3
"""Reads the instance's identity and role credentials with botocore's own
instance metadata fetchers, as an SDK on the instance would.

Usage: imds_identity.py BASE_URL
Output: one JSON object: instanceId, region (botocore's IMDSRegionProvider),
zone, roleName and whether a session token was used. Exits 3 when botocore
is not installed.
"""
import json
import sys

try:
    import botocore.session
    from botocore.utils import IMDSRegionProvider, InstanceMetadataFetcher, InstanceMetadataRegionFetcher
except ImportError:
    sys.exit(3)


def main():
    base = sys.argv[1]
    fetcher = InstanceMetadataFetcher(base_url=base, num_attempts=1, timeout=5)
    token = fetcher._fetch_metadata_token()
    def text(path):
        return fetcher._get_request(path, None, token).text
    region = IMDSRegionProvider(
        botocore.session.get_session(),
        fetcher=InstanceMetadataRegionFetcher(base_url=base, num_attempts=1, timeout=5)).provide()
    credentials = fetcher.retrieve_iam_role_credentials()
    print(json.dumps({
        "instanceId": text("latest/meta-data/instance-id"),
        "region": region,
        "zone": text("latest/meta-data/placement/availability-zone"),
        "placementRegion": text("latest/meta-data/placement/region"),
        "roleName": credentials.get("role_name", ""),
        "usedToken": token is not None,
    }))


if __name__ == "__main__":
    main()
