// Guest records: JSON, checks and the platforms' path rules.
#include "cloudsim/Guest.h"

#include "cloudsim/CloudState.h"
#include "framework/Base64.h"

namespace cloudsim {

using namespace schema;

const Table<GuestFile>& GuestFileTable() {
    using F = GuestFile;
    static const Table<F> table{
        {Required("path", &F::path), Member("folder", &F::folder), Member("modifiedSec", &F::modifiedSec),
         Custom<F>(
             "data",
             [](const Fields& in, F& f) {
                 // Seeds may give text as it is; "base64:" marks encoded bytes.
                 std::string text;
                 in.Get("data", text);
                 if (text.rfind("base64:", 0) != 0) {
                     f.data = text;
                 } else if (!KdcBase64::Decode(text.substr(7), f.data)) {
                     Fail(in.Where("data"), "not base64");
                 }
             },
             [](const F& f, json& out) {
                 if (f.data.empty()) return;
                 std::string text;
                 KdcBase64::Encode(f.data, text);
                 out["data"] = "base64:" + text;
             })}};
    return table;
}

const Table<Guest>& GuestTable() {
    using G = Guest;
    static const Table<G> table{{Required("instanceId", &G::instanceId), Member("ssmAgent", &G::ssmAgent),
                                 Member("powershell", &G::powershell), Member("awsModule", &G::awsModule),
                                 ListOf("files", &G::files, GuestFileTable())}};
    return table;
}

void CheckGuests(const State& s) {
    for (const auto& [id, g] : s.guests) {
        auto inst = s.instances.find(id);
        if (inst == s.instances.end()) Fail("guest " + id, "unknown instance '" + id + "'");
        bool windows = inst->second.platform == "windows";
        for (const auto& f : g.files)
            if (NormaliseGuestPath(f.path, windows).empty())
                Fail("guest " + id, "path '" + f.path + "' is not absolute");
    }
}

std::string NormaliseGuestPath(const std::string& path, bool windows) {
    std::string p = path;
    if (windows) {
        for (char& c : p)
            if (c == '/') c = '\\';
        if (p.size() < 2 || !std::isalpha(static_cast<unsigned char>(p[0])) || p[1] != ':') return {};
        p[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
        if (p.size() == 2) p += '\\';
        if (p[2] != '\\') return {};
        while (p.size() > 3 && p.back() == '\\') p.pop_back();
        return p;
    }
    if (p.empty() || p[0] != '/') return {};
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool IsGuestRoot(const std::string& path, bool windows) { return windows ? path.size() == 3 : path == "/"; }

std::string GuestParent(const std::string& path, bool windows) {
    if (IsGuestRoot(path, windows)) return path;
    size_t cut = path.find_last_of(windows ? '\\' : '/');
    if (cut == std::string::npos) return {};
    return path.substr(0, (windows ? cut == 2 : cut == 0) ? cut + 1 : cut);
}

std::string GuestLeaf(const std::string& path, bool windows) {
    size_t cut = path.find_last_of(windows ? '\\' : '/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsWindowsGuest(const State& s, const std::string& instanceId) {
    auto it = s.instances.find(instanceId);
    return it != s.instances.end() && it->second.platform == "windows";
}

}  // namespace cloudsim
