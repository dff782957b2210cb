#pragma once
// The framework reads plain status codes, so nothing may propagate out of an
// interface operation: Guarded runs body and turns any exception into a
// logged failure value. `where` is the operation's signature text, taken
// outside the body (inside a lambda the compiler's name is the lambda's).
#include <exception>

#include "framework/EvDebug.h"

namespace AmazonGuard {

template <class Result, class Body>
Result Guarded(const char* where, Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        EvDebug::Error(where, "Unexpected failure: %s", e.what());
    } catch (...) {
        EvDebug::Error(where, "Unexpected failure");
    }
    return failure;
}

}  // namespace AmazonGuard
