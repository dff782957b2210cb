#pragma once
// The framework calls the plug-in through plain status codes, so nothing may
// propagate out of an interface operation: Guarded runs body and turns any
// exception into a logged failure value.
#include <exception>

#include "framework/EvDebug.h"

namespace AmazonInventory {

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

}  // namespace AmazonInventory
