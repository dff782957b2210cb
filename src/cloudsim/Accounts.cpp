// Accounts, regions, roles and sessions: JSON, checks and error texts.
#include "cloudsim/Accounts.h"

#include <algorithm>
#include <cctype>

#include "cloudsim/CloudState.h"
#include "framework/FileUtils.h"

namespace cloudsim {

using namespace schema;

const Table<Account>& AccountTable() {
    static const Table<Account> table{
        {Required("id", &Account::id), Member("accessKey", &Account::accessKey),
         Member("secretKey", &Account::secretKey), Member("canonicalId", &Account::canonicalId),
         Member("partition", &Account::partition), Member("defaultRegion", &Account::defaultRegion),
         IfSet("deniedActions", &Account::deniedActions)}};
    return table;
}

const Table<Region>& RegionTable() {
    static const Table<Region> table{{Required("name", &Region::name), Member("zones", &Region::zones),
                                      IfSet("instanceTypes", &Region::instanceTypes)}};
    return table;
}

const Table<Role>& RoleTable() {
    static const Table<Role> table{
        {Required("name", &Role::name), Member("account", &Role::account), Member("arn", &Role::arn)},
        [](Role& r, const Fields&) {
            if (r.arn.empty()) r.arn = "arn:aws:iam::" + r.account + ":role/" + r.name;
        }};
    return table;
}

const Table<Session>& SessionTable() {
    static const Table<Session> table{
        {Required("accessKey", &Session::accessKey), Member("secretKey", &Session::secretKey),
         Member("token", &Session::token), Member("account", &Session::account),
         Member("expiresMs", &Session::expiresMs)}};
    return table;
}

void CheckAccountKnown(const State& s, const std::string& what, const std::string& account) {
    if (!s.FindAccount(account)) Fail(what, "unknown account '" + account + "'");
}

void CheckRegionKnown(const State& s, const std::string& what, const std::string& region) {
    if (!s.FindRegion(region)) Fail(what, "unknown region '" + region + "'");
}

void CheckPlacement(const State& s, const std::string& what, const std::string& account, const std::string& region,
                    const std::string& zone) {
    CheckAccountKnown(s, what, account);
    const Region* r = s.FindRegion(region);
    if (!r) Fail(what, "unknown region '" + region + "'");
    bool zoneKnown = false;
    for (const auto& z : r->zones) zoneKnown |= (z == zone);
    if (!zoneKnown) Fail(what, "zone '" + zone + "' is not in region " + region);
}

void CheckRoles(const State& s) {
    for (const auto& r : s.roles) CheckAccountKnown(s, "role " + r.name, r.account);
}

bool CheckRequestZone(const State& s, const std::string& region, const std::string& zone, std::string& error) {
    if (zone.empty()) {
        error = MissingParameter("the parameter AvailabilityZone");
        return false;
    }
    const Region* r = s.RegionOfZone(zone);
    if (r && r->name == region) return true;
    error = InvalidZone(zone);
    return false;
}

std::string UnknownRegion(const std::string& region) { return "InvalidParameterValue: Unknown region " + region; }

std::string InvalidZone(const std::string& zone) {
    return "InvalidParameterValue: Invalid availability zone: [" + zone + "]";
}

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool ActionDenied(const Account& account, const std::string& action) {
    const std::string wanted = Lower(action);
    for (const auto& rule : account.deniedActions) {
        const std::string pattern = Lower(rule);
        if (pattern == wanted) return true;
        if (!pattern.empty() && pattern.back() == '*' &&
            wanted.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0)
            return true;
    }
    return false;
}

std::string InvalidClientToken() {
    return "InvalidClientTokenId: The security token included in the request is invalid.";
}

const Account* Authenticate(const State& s, const std::string& accessKey, const std::string& secretKey,
                            std::string& error) {
    const Account* account = s.FindAccountByKey(accessKey);
    if (!account) {
        error = "AuthFailure: AWS was not able to validate the provided access credentials";
        return nullptr;
    }
    if (account->secretKey != secretKey) {
        error = "SignatureDoesNotMatch: The request signature we calculated does not match the signature you "
                "provided. Check your AWS Secret Access Key and signing method.";
        return nullptr;
    }
    return account;
}

const Account* ConnectedAccount(const State& s, const std::string& id, std::string& error) {
    const Account* account = s.FindAccount(id);
    if (!account) error = "AuthFailure: account " + id + " no longer exists";
    return account;
}

namespace {

const int64_t kSessionLifetimeMs = 3600LL * 1000;

std::string Alnum(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

const Session* AssumeRole(State& s, const std::string& roleArn, int64_t now, std::string& error) {
    auto role = std::find_if(s.roles.begin(), s.roles.end(), [&](const Role& r) { return r.arn == roleArn; });
    if (role == s.roles.end()) {
        error = "AccessDenied: User is not authorized to perform: sts:AssumeRole on resource: " + roleArn;
        return nullptr;
    }
    s.sessions.erase(std::remove_if(s.sessions.begin(), s.sessions.end(),
                                    [&](const Session& x) { return x.expiresMs <= now; }),
                     s.sessions.end());
    Session session;
    session.accessKey = "ASIA" + Alnum(FwGuid::New()).substr(0, 16);
    session.secretKey = Alnum(FwGuid::New()) + Alnum(FwGuid::New()).substr(0, 8);
    session.token = "IQoJb3JpZ2luX2VjE" + Alnum(FwGuid::New()) + Alnum(FwGuid::New());
    session.account = role->account;
    session.expiresMs = now + kSessionLifetimeMs;
    s.sessions.push_back(session);
    return &s.sessions.back();
}

std::string MissingParameter(const std::string& what) { return "MissingParameter: The request must contain " + what; }

}  // namespace cloudsim
