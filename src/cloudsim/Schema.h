#pragma once
// Seed and state JSON: every record kind has one table of field descriptors
// (JSON name, member, whether it may be missing, how it is written), read and
// written by the same code, so that a field is named once for both
// directions and every kind reports a bad field with its place
// ("state.volumes[2].sizeBytes: expected an integer").
//
// Reading leaves a member's coded default when its JSON field is absent or
// null, since every field added after the first seeds must stay optional.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace cloudsim::schema {

using nlohmann::json;

// Throws std::runtime_error("cloud state: <where>: <what>").
[[noreturn]] void Fail(const std::string& where, const std::string& what);

// The members of one JSON object, read into typed C++ fields; each Get fails
// with the member's place when the JSON type is wrong.
class Fields {
public:
    Fields(const json& obj, std::string where);

    const json* Find(const std::string& key) const;   // null when absent or null
    std::string Where(const std::string& key) const { return m_where + "." + key; }
    const std::string& Where() const { return m_where; }

    void Get(const std::string& key, std::string& out) const;
    void Get(const std::string& key, bool& out) const;
    void Get(const std::string& key, int64_t& out) const;
    void Get(const std::string& key, int32_t& out) const;
    void Get(const std::string& key, std::vector<std::string>& out) const;
    void Get(const std::string& key, std::map<std::string, std::string>& out) const;
    // Calls f(item, "where[i]") for every element of an optional array.
    void Each(const std::string& key, const std::function<void(const json&, const std::string&)>& f) const;

private:
    const json& m_obj;
    std::string m_where;
};

// One field of record kind R. read is null for fields that only ever come
// from the state itself; write may leave out what the record does not have.
template <class R>
struct Field {
    std::string name;
    std::function<void(const Fields&, R&)> read;
    std::function<void(const R&, json&)> write;
    std::function<bool(const R&)> missing;   // set for required fields
    bool late = false;                       // read after the record's own checks
};

// How a record kind reads and writes. Reading runs the fields in order,
// then fails on the first required field left empty, then runs check (rules
// across fields, derived defaults), then the late fields (those that depend
// on what check vetted, such as blocks within the size).
template <class R>
struct Table {
    using Check = std::function<void(R&, const Fields&)>;
    std::vector<Field<R>> fields;
    Check check;

    explicit Table(std::vector<Field<R>> fields_, Check check_ = nullptr)
        : fields(std::move(fields_)), check(std::move(check_)) {}

    R Read(const json& j, const std::string& where) const {
        Fields in(j, where);
        R r;
        for (const auto& f : fields)
            if (!f.late && f.read) f.read(in, r);
        for (const auto& f : fields)
            if (f.missing && f.missing(r)) Fail(in.Where(f.name), "missing");
        if (check) check(r, in);
        for (const auto& f : fields)
            if (f.late && f.read) f.read(in, r);
        return r;
    }

    json Write(const R& r) const {
        json out = json::object();
        for (const auto& f : fields)
            if (f.write) f.write(r, out);
        return out;
    }
};

// Whether a member holds anything: text or a list not empty, a count not
// negative (a negative count means "not known").
inline bool IsSet(const std::string& v) { return !v.empty(); }
inline bool IsSet(const std::vector<std::string>& v) { return !v.empty(); }
inline bool IsSet(int64_t v) { return v >= 0; }

// Optional in JSON, always written.
template <class R, class T>
Field<R> Member(const char* name, T R::*m) {
    Field<R> f;
    f.name = name;
    f.read = [name, m](const Fields& in, R& r) { in.Get(name, r.*m); };
    f.write = [name, m](const R& r, json& out) { out[name] = r.*m; };
    return f;
}

// A text that must be present and not empty.
template <class R>
Field<R> Required(const char* name, std::string R::*m) {
    Field<R> f = Member(name, m);
    f.missing = [m](const R& r) { return (r.*m).empty(); };
    return f;
}

// Optional in JSON, written only when set, so that states written before the
// field existed and states that do not use it read the same.
template <class R, class T>
Field<R> IfSet(const char* name, T R::*m) {
    Field<R> f = Member(name, m);
    f.write = [name, m](const R& r, json& out) {
        if (IsSet(r.*m)) out[name] = r.*m;
    };
    return f;
}

template <class X>
struct NotDeduced {
    using type = X;
};

// A nested object of its own kind; written unless present(value) says the
// record has none.
template <class R, class T>
Field<R> Nested(const char* name, T R::*m, const Table<T>& table,
                typename NotDeduced<std::function<bool(const T&)>>::type present = nullptr) {
    Field<R> f;
    f.name = name;
    f.read = [name, m, &table](const Fields& in, R& r) {
        if (const json* j = in.Find(name)) r.*m = table.Read(*j, in.Where(name));
    };
    f.write = [name, m, &table, present](const R& r, json& out) {
        if (!present || present(r.*m)) out[name] = table.Write(r.*m);
    };
    return f;
}

// An array of records of one kind, each read with its place ("name[i]").
template <class R, class T>
Field<R> ListOf(const char* name, std::vector<T> R::*m, const Table<T>& table) {
    Field<R> f;
    f.name = name;
    f.read = [name, m, &table](const Fields& in, R& r) {
        in.Each(name, [&](const json& j, const std::string& where) { (r.*m).push_back(table.Read(j, where)); });
    };
    f.write = [name, m, &table](const R& r, json& out) {
        json& list = out[name] = json::array();
        for (const auto& item : r.*m) list.push_back(table.Write(item));
    };
    return f;
}

// A field with its own reading and writing.
template <class R>
Field<R> Custom(const char* name, std::function<void(const Fields&, R&)> read,
                std::function<void(const R&, json&)> write, bool late = false) {
    Field<R> f;
    f.name = name;
    f.read = std::move(read);
    f.write = std::move(write);
    f.late = late;
    return f;
}

}  // namespace cloudsim::schema
