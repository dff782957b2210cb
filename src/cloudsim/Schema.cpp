// The typed readers behind the record tables (see Schema.h).
#include "cloudsim/Schema.h"

#include <climits>
#include <stdexcept>

namespace cloudsim::schema {

void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("cloud state: " + where + ": " + what);
}

Fields::Fields(const json& obj, std::string where) : m_obj(obj), m_where(std::move(where)) {
    if (!m_obj.is_object()) Fail(m_where, "expected an object");
}

const json* Fields::Find(const std::string& key) const {
    auto it = m_obj.find(key);
    if (it == m_obj.end() || it->is_null()) return nullptr;
    return &*it;
}

void Fields::Get(const std::string& key, std::string& out) const {
    if (const json* v = Find(key)) {
        if (!v->is_string()) Fail(Where(key), "expected a string");
        out = v->get<std::string>();
    }
}

void Fields::Get(const std::string& key, bool& out) const {
    if (const json* v = Find(key)) {
        if (!v->is_boolean()) Fail(Where(key), "expected true or false");
        out = v->get<bool>();
    }
}

void Fields::Get(const std::string& key, int64_t& out) const {
    if (const json* v = Find(key)) {
        if (!v->is_number_integer()) Fail(Where(key), "expected an integer");
        out = v->get<int64_t>();
    }
}

void Fields::Get(const std::string& key, int32_t& out) const {
    int64_t wide = out;
    Get(key, wide);
    if (wide < INT32_MIN || wide > INT32_MAX) Fail(Where(key), "integer out of range");
    out = static_cast<int32_t>(wide);
}

void Fields::Get(const std::string& key, std::vector<std::string>& out) const {
    if (const json* v = Find(key)) {
        if (!v->is_array()) Fail(Where(key), "expected an array of strings");
        out.clear();
        for (const auto& item : *v) {
            if (!item.is_string()) Fail(Where(key), "expected an array of strings");
            out.push_back(item.get<std::string>());
        }
    }
}

void Fields::Get(const std::string& key, std::map<std::string, std::string>& out) const {
    if (const json* v = Find(key)) {
        if (!v->is_object()) Fail(Where(key), "expected an object of strings");
        out.clear();
        for (auto it = v->begin(); it != v->end(); ++it) {
            if (!it.value().is_string()) Fail(Where(key) + "." + it.key(), "expected a string");
            out[it.key()] = it.value().get<std::string>();
        }
    }
}

void Fields::Each(const std::string& key, const std::function<void(const json&, const std::string&)>& f) const {
    const json* v = Find(key);
    if (!v) return;
    if (!v->is_array()) Fail(Where(key), "expected an array");
    for (size_t i = 0; i < v->size(); ++i) f((*v)[i], Where(key) + "[" + std::to_string(i) + "]");
}

}  // namespace cloudsim::schema
