#pragma once
// The accounts of the demo seed (demo/seed.json) and their keys.
namespace demo {
constexpr char kRegion[] = "us-east-1";
constexpr char kSourceKey[] = "AKIADEMOSOURCE000001";
constexpr char kSourceSecret[] = "demo-source-secret";
constexpr char kAdminKey[] = "AKIADEMOADMIN0000001";
constexpr char kAdminSecret[] = "demo-admin-secret";
constexpr char kSourceAccount[] = "111122223333";
constexpr char kAdminAccount[] = "444455556666";
}  // namespace demo
