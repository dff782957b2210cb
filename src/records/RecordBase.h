#pragma once
// Every framework record is a plain value type: copyable, default-constructed
// with empty strings, empty lists, zero numbers and false flags, and offering
// the framework's member-wise _Copy beside the copy constructor and assignment.
namespace VMInfoStructs {

template <class T>
struct SRecord {
    void _Copy(const T& other) { static_cast<T&>(*this) = other; }
};

}  // namespace VMInfoStructs
