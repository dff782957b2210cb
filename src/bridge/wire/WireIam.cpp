// The wire backend's IAM (Query API, the global endpoint): the account's
// roles, over every ListRoles page.
#include "bridge/wire/WireBackend.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
const char kIamVersion[] = "2010-05-08";
}  // namespace

int WireBackend::GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) {
    return Run("GetRoleInfoList", true, [&](std::string& error) {
        std::vector<VMInfoStructs::SRoleInfo> found;
        std::string marker;
        for (;;) {
            QueryParams params{{"MaxItems", std::to_string(m_pageSize)}};
            if (!marker.empty()) params.emplace_back("Marker", marker);
            pugi::xml_document doc;
            // IAM is global: one endpoint, signed for us-east-1.
            if (!m_client.Call("iam", kIamVersion, "us-east-1", "ListRoles", params, doc, error, "iam.amazonaws.com"))
                return false;
            pugi::xml_node result = doc.document_element().child("ListRolesResult");
            for (pugi::xml_node member : result.child("Roles").children("member")) {
                VMInfoStructs::SRoleInfo role;
                role.name = member.child_value("RoleName");
                role.arn = member.child_value("Arn");
                found.push_back(role);
            }
            const std::string next = result.child_value("Marker");
            if (std::string("true") != result.child_value("IsTruncated") || next.empty() || next == marker) break;
            marker = next;
        }
        roles = found;
        return true;
    }) ? 1 : 0;
}
