// The wire backend's power operations and termination, and what a restore
// looks at while a new instance boots: its status checks, console output and
// screenshot; a Windows instance's password.
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"
#include "framework/Base64.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
const char kWireTag[] = "AwsBridge";

// Base64 as EC2 may send it, wrapped over lines.
bool DecodeWrapped(const std::string& text, std::string& out) {
    std::string compact;
    for (char c : text)
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t') compact += c;
    return KdcBase64::Decode(compact, out);
}
}  // namespace

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

bool WireBackend::LogConsoleOutput(const std::string& instanceId) {
    return Run("LogConsoleOutput", true, [&](std::string& error) {
        pugi::xml_document doc;
        if (!Ec2("GetConsoleOutput", {{"InstanceId", instanceId}, {"Latest", "true"}}, doc, error)) return false;
        // EC2 sends the console's bytes base64-encoded, nothing when the
        // instance has written none yet.
        std::string text;
        const std::string encoded = doc.document_element().child_value("output");
        if (!encoded.empty() && !DecodeWrapped(encoded, text)) {
            error = "InternalError: the console output of " + instanceId + " is not base64";
            return false;
        }
        EvDebug::Debug(kWireTag, "Console output of instance [%s]:\n%s", instanceId.c_str(),
                       text.empty() ? "(no console output)" : text.c_str());
        return true;
    });
}

bool WireBackend::SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) {
    return Run("SaveInstanceScreenshot", true, [&](std::string& error) {
        pugi::xml_document doc;
        if (!Ec2("GetConsoleScreenshot", {{"InstanceId", instanceId}}, doc, error)) return false;
        std::string image;
        if (!DecodeWrapped(doc.document_element().child_value("imageData"), image) || image.empty()) {
            error = "InternalError: the screenshot of " + instanceId + " holds no image";
            return false;
        }
        if (FwFile::WriteAllAtomic(file, image)) return true;
        error = "InternalError: cannot write " + file;
        return false;
    });
}

bool WireBackend::IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) {
    succeeded = false;
    bool done = true;
    // A poll that fails ends the wait: done, without success, the reason in
    // the last error. So does an instance whose checks failed.
    Run("IsInstanceValidationtaskCompleted", true, [&](std::string& error) {
        bool found = false;
        std::string state, instanceStatus, systemStatus;
        if (!Ec2Items("DescribeInstanceStatus", {{"InstanceId.1", instanceId}, {"IncludeAllInstances", "true"}},
                      "instanceStatusSet/item",
                      [&](const pugi::xml_node& item) {
                          found = true;
                          state = item.child("instanceState").child_value("name");
                          instanceStatus = item.child("instanceStatus").child_value("status");
                          systemStatus = item.child("systemStatus").child_value("status");
                      },
                      error, "", 0))
            return false;
        if (!found || state == "terminated") {
            error = "InvalidInstanceID.NotFound: The instance ID '" + instanceId + "' does not exist";
            return false;
        }
        if (state == "pending") {
            done = false;
            return true;
        }
        if (state != "running") {
            error = "IncorrectInstanceState: The instance '" + instanceId + "' is in the '" + state + "' state.";
            return false;
        }
        // Still checking until both checks have a verdict.
        auto pending = [](const std::string& s) { return s == "initializing" || s == "insufficient-data"; };
        if (pending(instanceStatus) || pending(systemStatus)) {
            done = false;
            return true;
        }
        succeeded = instanceStatus == "ok" && systemStatus == "ok";
        if (succeeded) return true;
        error = "InstanceStatusImpaired: The status checks of instance '" + instanceId + "' failed (instance " +
                instanceStatus + ", system " + systemStatus + ")";
        return false;
    });
    return done;
}

bool WireBackend::GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                              std::string& password) {
    return Run("GetPassword", true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance(name, id, "", inst, error)) return false;
        if (keyName != inst.keyName) {
            error = "InvalidParameterValue: key pair does not match";
            return false;
        }
        pugi::xml_document doc;
        if (!Ec2("GetPasswordData", {{"InstanceId", inst.id}}, doc, error)) return false;
        // Windows writes it once it has booted; Linux never does.
        std::string encrypted;
        const std::string data = doc.document_element().child_value("passwordData");
        if (!DecodeWrapped(data, encrypted) || encrypted.empty()) {
            error = "PasswordDataUnavailable: No password is available for instance '" + inst.id + "'";
            return false;
        }
        // The key pair's private key stays with the user: a PEM file named
        // after it in the key pair folder.
        std::string folder;
        if (!KDPlatformInfo().getString("Bridge", "sKeyPairFolder", folder) || folder.empty())
            folder = FwFile::JoinPath(KDPI_Base::getBaseDir(), "keypairs");
        const std::string keyFile = FwFile::JoinPath(folder, keyName + ".pem");
        return DecryptPassword(keyFile, encrypted, password, error);
    });
}

bool WireBackend::CancelAMITask(const std::string& amiId) {
    // EC2 has no way to stop CreateImage; deregistering the image now would
    // lose the snapshots it is still making. The job's clean-up deletes
    // image and snapshots together once they can be.
    return Run("CancelAMITask", false, [&](std::string& error) {
        error = "UnsupportedOperation: EC2 cannot cancel the creation of image " + amiId +
                "; the job's clean-up removes it with its snapshots";
        return false;
    });
}
