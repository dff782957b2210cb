// The wire backend's IAM (Query API, the global endpoint): the account's
// roles, over every ListRoles page, and whether the caller may run actions.
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

bool WireBackend::CheckPermissions(const std::vector<std::string>& actions, bool& allowed) {
    allowed = false;
    return Run("CheckPermissions", true, [&](std::string& error) {
        // The account's root user may do everything, and IAM simulates no
        // policy for it.
        if (m_arn.size() > 5 && m_arn.compare(m_arn.size() - 5, 5, ":root") == 0) {
            allowed = true;
            return true;
        }
        std::string principal = m_arn;
        // "arn:aws:sts::<account>:assumed-role/<role>/<session>": IAM simulates
        // the role, whose ARN carries its path.
        const size_t assumed = m_arn.find(":assumed-role/");
        if (assumed != std::string::npos) {
            const size_t start = assumed + std::string(":assumed-role/").size();
            const std::string role = m_arn.substr(start, m_arn.find('/', start) - start);
            pugi::xml_document doc;
            if (!m_client.Call("iam", kIamVersion, "us-east-1", "GetRole", {{"RoleName", role}}, doc, error,
                               "iam.amazonaws.com"))
                return false;
            principal = doc.document_element().child("GetRoleResult").child("Role").child_value("Arn");
        }
        QueryParams base{{"PolicySourceArn", principal}};
        for (size_t i = 0; i < actions.size(); ++i)
            base.emplace_back("ActionNames.member." + std::to_string(i + 1), actions[i]);
        bool all = true;
        size_t decided = 0;
        std::string marker;
        for (;;) {
            QueryParams params = base;
            if (!marker.empty()) params.emplace_back("Marker", marker);
            pugi::xml_document doc;
            if (!m_client.Call("iam", kIamVersion, "us-east-1", "SimulatePrincipalPolicy", params, doc, error,
                               "iam.amazonaws.com"))
                return false;
            pugi::xml_node result = doc.document_element().child("SimulatePrincipalPolicyResult");
            for (pugi::xml_node member : result.child("EvaluationResults").children("member")) {
                ++decided;
                if (std::string("allowed") != member.child_value("EvalDecision")) all = false;
            }
            const std::string next = result.child_value("Marker");
            if (std::string("true") != result.child_value("IsTruncated") || next.empty() || next == marker) break;
            marker = next;
        }
        // An action IAM did not answer for is not known to be allowed.
        allowed = all && decided >= actions.size();
        return true;
    });
}
