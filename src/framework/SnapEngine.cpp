// The process's snapshot engine and its arrays.
#include "framework/SnapEngine.h"

#include <map>
#include <mutex>

ISnapEngine::~ISnapEngine() = default;

namespace {
struct EngineState {
    std::mutex lock;   // guards both members
    std::shared_ptr<ISnapEngine> engine;
    std::map<uint32_t, SnapArrayAccount> arrays;
};
EngineState& State() {
    static EngineState state;
    return state;
}
}  // namespace

void FwSnapEngine::Install(std::shared_ptr<ISnapEngine> engine) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().engine = std::move(engine);
}

std::shared_ptr<ISnapEngine> FwSnapEngine::Get() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().engine;
}

void FwSnapEngine::RegisterArray(uint32_t arrayNumber, const SnapArrayAccount& account) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().arrays[arrayNumber] = account;
}

void FwSnapEngine::UnregisterArray(uint32_t arrayNumber) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().arrays.erase(arrayNumber);
}

bool FwSnapEngine::LookupArray(uint32_t arrayNumber, SnapArrayAccount& account) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().arrays.find(arrayNumber);
    if (it == State().arrays.end()) return false;
    account = it->second;
    return true;
}
