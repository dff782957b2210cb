// Accounts, regions, roles and sessions: JSON, checks and error texts.
#include "cloudsim/Accounts.h"

#include "cloudsim/CloudState.h"

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

std::string MissingParameter(const std::string& what) { return "MissingParameter: The request must contain " + what; }

}  // namespace cloudsim
