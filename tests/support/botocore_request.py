"""Builds and signs EBS direct requests with botocore, for fixed inputs.

Imported by the tests' and the benchmark's command-line helpers, which add
this folder to sys.path. Importing it raises ImportError when botocore is not
installed; the helpers turn that into exit status 3, which their callers read
as "skip".
"""
import contextlib
import datetime
from unittest import mock

from botocore.auth import SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

MISSING_BOTOCORE = 3


@contextlib.contextmanager
def frozen_clock(epoch):
    """Makes botocore's signer read the time as epoch (seconds, UTC)."""
    fixed = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)

    class FixedDateTime(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return fixed.replace(tzinfo=None)

        @classmethod
        def now(cls, tz=None):
            return fixed if tz else fixed.replace(tzinfo=None)

    with mock.patch("botocore.auth.datetime.datetime", FixedDateTime):
        yield


def ebs_host(region):
    return "ebs.%s.amazonaws.com" % region


def get_request(host, path, params, headers=None):
    """A GET of https://host/path; params are given unencoded."""
    return AWSRequest(method="GET", url="https://%s%s" % (host, path), params=params, headers=headers or {})


def snapshot_block_request(region, snapshot, index, token, extra_params=None):
    """GetSnapshotBlock of one block, as the EBS direct client sends it."""
    params = {"blockToken": token}
    params.update(extra_params or {})
    return get_request(ebs_host(region), "/snapshots/%s/blocks/%s" % (snapshot, index), params)


def signer(access, secret, region):
    return SigV4Auth(Credentials(access, secret), "ebs", region)


def sign(request, access, secret, region, epoch):
    """Adds botocore's SigV4 headers to request, signed at epoch."""
    with frozen_clock(epoch):
        signer(access, secret, region).add_auth(request)
    return request
