#pragma once
// The data mover reads plain status codes, so nothing may propagate out of a
// disk slot: Guarded runs body and turns any exception into a logged failure
// value.
#include <exception>

#include "framework/EvDebug.h"
#include "records/VMInfoStructs.h"

namespace AmazonDisk {

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

// Error code of a disk slot that found no handle, disk or VM record.
constexpr EVMInfoError kErrDiskHandle = 23;

constexpr char kTransportHotAdd[] = "HOTADD";
constexpr char kTransportDirect[] = "EBS-DIRECT-API";

}  // namespace AmazonDisk
