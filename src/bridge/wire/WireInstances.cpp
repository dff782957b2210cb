// The wire backend's power operations and termination.
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

bool WireBackend::FindInstance(const std::string& name, const std::string& id, const std::string& region,
                               Ec2Instance& out, std::string& error) {
    QueryParams filters;
    if (!id.empty()) AddFilter(filters, "instance-id", id);
    else AddFilter(filters, "tag:Name", name);
    bool found = false;
    if (!Ec2Items("DescribeInstances", filters, "reservationSet/item",
                  [&](const pugi::xml_node& reservation) {
                      for (pugi::xml_node item : reservation.child("instancesSet").children("item")) {
                          Ec2Instance inst = ParseInstance(item);
                          if (found || inst.state == "terminated") continue;
                          out = inst;
                          found = true;
                      }
                  },
                  error, region))
        return false;
    if (!found)
        error = "InvalidInstanceID.NotFound: The instance ID '" + (id.empty() ? name : id) + "' does not exist";
    return found;
}

bool WireBackend::GetOutpostsAccountARN(const std::string& instanceId, const std::string& region, std::string& arn) {
    arn.clear();
    return Run("GetOutpostsAccountARN", true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance("", instanceId, region, inst, error)) return false;
        arn = inst.outpostArn;
        return true;
    });
}

bool WireBackend::Power(const char* op, const char* action, const std::string& name, const std::string& id,
                        const std::string& region) {
    return Run(op, true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance(name, id, region, inst, error)) return false;
        pugi::xml_document doc;
        return Ec2(action, {{"InstanceId.1", inst.id}}, doc, error, region);
    });
}

// Asking for the state an instance is in or heading to succeeds: EC2 itself
// answers so.
bool WireBackend::PowerOnVM(const std::string& name, const std::string& id, const std::string& region) {
    return Power("PowerOnVM", "StartInstances", name, id, region);
}

bool WireBackend::PowerOffVM(const std::string& name, const std::string& id, const std::string& region) {
    return Power("PowerOffVM", "StopInstances", name, id, region);
}

bool WireBackend::RebootVM(const std::string& name, const std::string& id, const std::string& region) {
    return Power("RebootVM", "RebootInstances", name, id, region);
}

bool WireBackend::DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                           bool deleteVolumes, bool) {
    return Run("DeleteVM", true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance(name, id, region, inst, error)) {
            // Terminating a terminated (or long gone) instance succeeds.
            return error.rfind("InvalidInstanceID.NotFound", 0) == 0 && !id.empty();
        }
        pugi::xml_document doc;
        if (deleteVolumes) {
            // Volumes still attached go with the instance: AWS deletes those
            // marked delete-on-termination, so mark them all first.
            QueryParams params{{"InstanceId", inst.id}};
            int n = 0;
            for (const auto& d : inst.devices) {
                if (d.deleteOnTermination) continue;
                const std::string prefix = "BlockDeviceMapping." + std::to_string(++n);
                params.emplace_back(prefix + ".DeviceName", d.device);
                params.emplace_back(prefix + ".Ebs.DeleteOnTermination", "true");
            }
            if (n > 0 && !Ec2("ModifyInstanceAttribute", params, doc, error, region)) return false;
        }
        return Ec2("TerminateInstances", {{"InstanceId.1", inst.id}}, doc, error, region);
    });
}
