#!/usr/bin/env python3
"""moto's server, taught two things AWS does that moto 5 does not, and
nothing else; every other answer is moto's own.

1. CreateImage snapshots each EBS volume attached to the instance (but the
   devices the request maps to NoDevice) and maps each snapshot by its
   device name, the instance's root device being the image's root; moto
   instead makes one unrelated 15 GiB snapshot. (EC2 API reference,
   CreateImage: "Amazon EC2 ... creates snapshots of each volume that's
   attached to the instance"; the AMI's block device mapping names them.)
2. A snapshot of a volume created from a snapshot carries that snapshot's
   blocks (with its own block tokens), as an EBS snapshot holds the data of
   its volume; moto keeps block data only for snapshots written through the
   EBS direct APIs.

Usage: moto_launcher.py [moto_server's options: -H HOST -p PORT -c CERT -k KEY]
Like moto_server, it says "Running on https://HOST:PORT" once it listens.
"""
import sys
import threading

from moto import server
from moto.ebs.models import Block, EBSSnapshot, ebs_backends
from moto.ec2.models.amis import Ami, AmiBackend
from moto.ec2.models.elastic_block_store import EBSBackend as Ec2VolumeBackend
from moto.ec2.responses.amis import AmisResponse

# The devices a CreateImage request maps to NoDevice, handed from the
# request's handler to the backend call it makes on the same thread.
_request = threading.local()

_original_create_image_response = AmisResponse.create_image
_original_create_image = AmiBackend.create_image
_original_create_snapshot = Ec2VolumeBackend.create_snapshot
_original_mappings = Ami.block_device_mappings


def _create_image_response(self):
    mappings = self._get_param("BlockDeviceMappings", [])
    _request.no_device = {m.get("DeviceName") for m in mappings if "NoDevice" in m}
    try:
        return _original_create_image_response(self)
    finally:
        _request.no_device = set()


def _create_image(self, instance_id, name, description, tag_specifications):
    ami = _original_create_image(self, instance_id, name, description, tag_specifications)
    # The image is of this instance's volumes, not of a stand-in volume.
    self.snapshots.pop(ami.ebs_snapshot.id, None)
    instance = self.get_instance(instance_id)
    skipped = getattr(_request, "no_device", set())
    mappings = []
    for device, attached in instance.block_device_mapping.items():
        if device in skipped:
            continue
        volume = self.get_volume(attached.volume_id)
        snapshot = self.create_snapshot(volume.id, "Created by CreateImage(%s) for %s" % (instance_id, ami.id),
                                        from_ami=ami.id)
        mappings.append({"DeviceName": device,
                         "Ebs": {"SnapshotId": snapshot.id, "VolumeSize": volume.size,
                                 "DeleteOnTermination": bool(attached.delete_on_termination),
                                 "VolumeType": volume.volume_type, "Encrypted": bool(volume.encrypted)}})
    ami.instance_mappings = mappings
    ami.root_device_name = instance.root_device_name
    ami.root_device_type = "ebs"
    return ami


def _block_device_mappings(self):
    mappings = getattr(self, "instance_mappings", None)
    return mappings if mappings is not None else _original_mappings.fget(self)


def _create_snapshot(self, volume_id, description, owner_id=None, from_ami=None):
    snapshot = _original_create_snapshot(self, volume_id, description, owner_id=owner_id, from_ami=from_ami)
    ebs = ebs_backends[self.account_id][self.region_name]
    source = ebs.snapshots.get(snapshot.volume.snapshot_id or "")
    if source is not None:
        copy = EBSSnapshot(account_id=self.account_id, snapshot=snapshot)
        copy.status = "completed"
        copy.block_size = source.block_size
        copy.blocks = {index: Block(b.block_data, b.checksum, b.checksum_algorithm, b.data_length)
                       for index, b in source.blocks.items()}
        ebs.snapshots[snapshot.id] = copy
    return snapshot


AmisResponse.create_image = _create_image_response
AmiBackend.create_image = _create_image
Ami.block_device_mappings = property(_block_device_mappings)
Ec2VolumeBackend.create_snapshot = _create_snapshot

if __name__ == "__main__":
    server.main(sys.argv[1:])
