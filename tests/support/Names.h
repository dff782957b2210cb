#pragma once
// The names of a list's elements in the list's order, for tests that check
// which resources a list holds and in what order.
#include <string>
#include <vector>

template <class Container>
std::vector<std::string> Names(const Container& items) {
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(item.name);
    return names;
}
