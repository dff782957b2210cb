#pragma once
// Accounts, their regions and zones, IAM roles and the sessions assumed
// through them: the records, their JSON, and the AWS texts for an unknown
// region or zone.
#include <cstdint>
#include <string>
#include <vector>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct Account {
    std::string id;              // 12 digits
    std::string accessKey;
    std::string secretKey;
    std::string canonicalId;
    std::string partition = "aws";
    std::string defaultRegion;
    // IAM actions the account's credentials may not run ("ebs:GetSnapshotBlock";
    // a trailing "*" denies every action it prefixes).
    std::vector<std::string> deniedActions;
};

struct Region {
    std::string name;                    // "us-east-1"
    std::vector<std::string> zones;      // "us-east-1a", ...
    std::vector<std::string> instanceTypes;  // offered types; empty: the default offering
};

struct Role {
    std::string name;
    std::string account;
    std::string arn;                     // seeds may leave it out: derived from account and name
};

// Temporary credentials issued by an assume-role call; the EBS endpoints
// accept them until they expire on the framework clock.
struct Session {
    std::string accessKey;
    std::string secretKey;
    std::string token;
    std::string account;
    int64_t expiresMs = 0;
};

const schema::Table<Account>& AccountTable();
const schema::Table<Region>& RegionTable();
const schema::Table<Role>& RoleTable();
const schema::Table<Session>& SessionTable();

// Cross-reference checks of a parsed state, each failing with what names the
// unknown account or region.
void CheckAccountKnown(const State& s, const std::string& what, const std::string& account);
void CheckRegionKnown(const State& s, const std::string& what, const std::string& region);
// account and region known, and zone one of the region's.
void CheckPlacement(const State& s, const std::string& what, const std::string& account, const std::string& region,
                    const std::string& zone);
void CheckRoles(const State& s);

// A request's zone must be given and be one of the region's the request goes
// to; false with the AWS text otherwise.
bool CheckRequestZone(const State& s, const std::string& region, const std::string& zone, std::string& error);

// The account whose keys these are; null with AWS's text for an unknown
// access key or a secret key that does not match it.
const Account* Authenticate(const State& s, const std::string& accessKey, const std::string& secretKey,
                            std::string& error);
// The account of a connection made earlier; null with AWS's text once the
// account is gone.
const Account* ConnectedAccount(const State& s, const std::string& id, std::string& error);
// STS AssumeRole of a known role: a session of the role's account valid
// for an hour; expired sessions are dropped, so the state does not grow
// with every job.
const Session* AssumeRole(State& s, const std::string& roleArn, int64_t nowMs, std::string& error);
// IAM's verdict on action for the account's credentials: denied when a
// rule of deniedActions names it, compared without regard to case, or
// prefixes it with a trailing "*" ("ebs:*").
bool ActionDenied(const Account& account, const std::string& action);

// ---- AWS error texts ----
// Credentials of an account the cloud no longer holds.
std::string InvalidClientToken();
std::string UnknownRegion(const std::string& region);
// "MissingParameter: The request must contain " followed by what.
std::string MissingParameter(const std::string& what);
std::string InvalidZone(const std::string& zone);

}  // namespace cloudsim
