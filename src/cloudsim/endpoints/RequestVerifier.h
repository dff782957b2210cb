#pragma once
// Checks a request's Signature Version 4 as an AWS front end does: a known
// access key, a session token that matches and has not expired, an
// X-Amz-Date within 15 minutes of the framework clock, the service named in
// the scope, and a signature recomputed from the store's secret. The region
// is whatever the scope names. Thread-safe (the store is).
#include <string>

#include "cloudsim/endpoints/AwsError.h"
#include "cloudsim/endpoints/CredentialStore.h"
#include "cloudsim/endpoints/SigV4.h"

namespace cloudsim::endpoints {

class RequestVerifier {
public:
    RequestVerifier(const CredentialStore& store, std::string service, bool normalizePath = true)
        : m_store(store), m_service(std::move(service)), m_normalizePath(normalizePath) {}

    // No error (status 0) when the request may go on; *caller then names
    // the credentials that signed it.
    AwsError Verify(const WireRequest& request, Credentials* caller = nullptr) const;

private:
    const CredentialStore& m_store;
    std::string m_service;
    bool m_normalizePath;
};

}  // namespace cloudsim::endpoints
