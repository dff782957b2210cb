// The wire backend's networking around instances: an interface's
// delete-on-termination flag, interfaces left by terminated instances, and
// the isolated subnets restores carve as /24 blocks out of a VPC.
#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

bool WireBackend::ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) {
    return Run("ModifyNetworkInterface", true, [&](std::string& error) {
        std::string attachment;
        bool found = false;
        if (!Ec2Items("DescribeNetworkInterfaces", {{"NetworkInterfaceId.1", interfaceId}},
                      "networkInterfaceSet/item",
                      [&](const pugi::xml_node& item) {
                          found = true;
                          attachment = item.child("attachment").child_value("attachmentId");
                      },
                      error, "", 0))
            return false;
        if (!found) {
            error = "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + interfaceId + "' does not exist";
            return false;
        }
        // The flag belongs to the attachment: a detached interface has none.
        if (attachment.empty()) {
            error = "InvalidAttachmentID.NotFound: Interface '" + interfaceId + "' is attached to no instance";
            return false;
        }
        pugi::xml_document doc;
        return Ec2("ModifyNetworkInterfaceAttribute",
                   {{"NetworkInterfaceId", interfaceId},
                    {"Attachment.AttachmentId", attachment},
                    {"Attachment.DeleteOnTermination", deleteOnTermination ? "true" : "false"}},
                   doc, error);
    });
}

bool WireBackend::DeleteNetworkInterface(const std::string& interfaceId) {
    return Run("DeleteNetworkInterface", true, [&](std::string& error) {
        pugi::xml_document doc;
        return Ec2("DeleteNetworkInterface", {{"NetworkInterfaceId", interfaceId}}, doc, error);
    });
}

bool WireBackend::CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
                                       std::string& cidr, const std::string&) {
    return Run("CreateIsolatedSubnet", true, [&](std::string& error) {
        // The VPC by id, else by its Name tag.
        QueryParams byId, byName;
        AddFilter(byId, "vpc-id", network);
        AddFilter(byName, "tag:Name", network);
        std::string vpcId, vpcCidr;
        for (const QueryParams& params : {byId, byName}) {
            if (!Ec2Items("DescribeVpcs", params, "vpcSet/item",
                          [&](const pugi::xml_node& item) {
                              if (!vpcId.empty()) return;
                              vpcId = item.child_value("vpcId");
                              vpcCidr = item.child_value("cidrBlock");
                          },
                          error, "", 1000))
                return false;
            if (!vpcId.empty()) break;
        }
        if (vpcId.empty()) {
            error = "InvalidVpcID.NotFound: The vpc ID '" + network + "' does not exist";
            return false;
        }
        std::vector<std::string> taken;
        QueryParams inVpc;
        AddFilter(inVpc, "vpc-id", vpcId);
        if (!Ec2Items("DescribeSubnets", inVpc, "subnetSet/item",
                      [&](const pugi::xml_node& item) { taken.push_back(item.child_value("cidrBlock")); }, error, "",
                      1000))
            return false;
        std::string block;
        if (!FreeSubnetBlock(vpcId, vpcCidr, taken, block, error)) return false;
        QueryParams params{{"VpcId", vpcId}, {"CidrBlock", block}};
        if (!name.empty()) AddTagSpecification(params, "subnet", {{"Name", name}});
        pugi::xml_document doc;
        if (!Ec2("CreateSubnet", params, doc, error)) return false;
        subnetId = doc.document_element().child("subnet").child_value("subnetId");
        cidr = doc.document_element().child("subnet").child_value("cidrBlock");
        return true;
    });
}

bool WireBackend::DeleteIsolatedSubnet(const std::string& subnetId) {
    return Run("DeleteIsolatedSubnet", true, [&](std::string& error) {
        pugi::xml_document doc;
        return Ec2("DeleteSubnet", {{"SubnetId", subnetId}}, doc, error);
    });
}

bool WireBackend::GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
                                                std::string& arn) {
    return Run("GetOutpostAccountARNForSubnet", true, [&](std::string& error) {
        bool found = false;
        if (!Ec2Items("DescribeSubnets", {{"SubnetId.1", subnetId}}, "subnetSet/item",
                      [&](const pugi::xml_node& item) {
                          found = true;
                          arn = item.child_value("outpostArn");
                      },
                      error, region, 0))
            return false;
        if (found) return true;
        error = "InvalidSubnetID.NotFound: The subnet ID '" + subnetId + "' does not exist";
        return false;
    });
}
