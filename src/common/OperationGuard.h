#pragma once
// The framework reads plain status codes, so nothing may propagate out of an
// interface operation: Guarded runs body and turns any exception into a
// logged failure value. `where` is the operation's signature text, taken
// outside the body (inside a lambda the compiler's name is the lambda's).
#include <exception>
#include <string>
#include <utility>

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

// Guarded for an operation with a failure text of its own: logs "<text>:
// <what>" (the text alone for an exception that is no std::exception), then
// lets onFailure record the failure with the exception's text (null for one
// that is no std::exception).
template <class Result, class Body, class OnFailure>
Result Guarded(const char* where, const std::string& text, Result failure, Body&& body,
               OnFailure&& onFailure) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        EvDebug::Error(where, "%s: %s", text.c_str(), e.what());
        onFailure(e.what());
    } catch (...) {
        EvDebug::Error(where, "%s", text.c_str());
        onFailure(nullptr);
    }
    return failure;
}

template <class Result, class Body>
Result Guarded(const char* where, const std::string& text, Result failure, Body&& body) noexcept {
    return Guarded(where, text, failure, std::forward<Body>(body), [](const char*) {});
}

}  // namespace AmazonGuard
