// Connecting the plug-in object to the source account and, when the
// credentials name one, to a separate admin (mount) account.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
constexpr int kCredentialAdminAccount = 5;
constexpr int kCredentialWebProxy = 3;
}  // namespace

void CAmazonInfo::StoreConnectMembers(const std::string& url, const std::string& user, const std::string& password) {
    ResetCaches();
    // Nothing of an earlier connection's accounts carries over: until admin
    // credentials name another account, the source account is the admin one.
    m_bCrossAccount = false;
    m_bCrossAccountBackup = false;
    m_pAdminBridge = m_pSourceBridge.get();
    if (m_pTaskUtils) m_pTaskUtils->SetBridges(m_pSourceBridge.get(), m_pAdminBridge);
    m_pOwnedAdminBridge.reset();
    // The read paths hold their own connections, made with the earlier
    // credentials: keeping them would read the earlier account's snapshots.
    // The client goes before the bridge it uses.
    m_pDirectSnapshotAccess.reset();
    m_readBridges.directAccessBridge.reset();
    {
        std::lock_guard<std::mutex> guard(m_readBridges.lock);
        m_readBridges.readBridge.reset();
    }
    m_strURL = url;
    m_strUser = user;
    m_strPassword = password;
    m_strAdminURL = url;
    m_strAdminUser = user;
    m_strAdminPassword = password;
}

int CAmazonInfo::Connect(const std::string& url, const std::string& user, const std::string& password) {
    const char* const fn = __PRETTY_FUNCTION__;
    return AmazonGuard::Guarded(
        fn, "Connect failed", 0,
        [&] {
            if (!Init(false)) {
                SetLastVMError(AmazonErrors::kErrConnectFailed);
                return 0;
            }
            StoreConnectMembers(url, user, password);
            EvDebug::Debug(fn, "Connecting to Url=[%s], user name[%s]", url.c_str(), user.c_str());
            std::string error;
            if (!AmazonCommon::QuietBridgeCall(
                    *m_pSourceBridge, [&] { return m_pSourceBridge->Connect(url, user, password); }, error)) {
                EvDebug::Error(fn, "Connect failed to source account");
                SetLastVMError(AmazonErrors::kErrConnectFailed);
                SetLastVMErrorDetails(error);
                return 0;
            }
            m_pSourceBridge->GetAccountId(m_accounts.sourceAccountId);
            m_accounts.adminAccountId = m_accounts.sourceAccountId;
            EvDebug::Debug(fn, "Connection Successful to source account [%s]", m_accounts.sourceAccountId.c_str());
            return 1;
        },
        [&](const char* what) { SetLastVMError(AmazonErrors::kErrConnectFailed, what ? what : ""); });
}

int CAmazonInfo::Connect(const std::string& url, const std::string& user, const std::string& password,
                         const std::vector<SHostCredentials>& credentials) {
    const char* const fn = __PRETTY_FUNCTION__;
    return AmazonGuard::Guarded(
        fn, "Connect failed", 0,
        [&] {
            StoreConnectMembers(url, user, password);
            for (const auto& cred : credentials) {
                if (cred.type != kCredentialAdminAccount) continue;
                m_strAdminURL = cred.host;
                m_strAdminUser = cred.user;
                m_strAdminPassword = cred.password;
                m_pOwnedAdminBridge = NewBridge();
                m_pAdminBridge = m_pOwnedAdminBridge.get();
                if (m_pTaskUtils) m_pTaskUtils->SetBridges(m_pSourceBridge.get(), m_pAdminBridge);
                m_bCrossAccount = true;
                break;
            }
            if (!Init(m_bCrossAccount)) {
                SetLastVMError(AmazonErrors::kErrConnectFailed);
                return 0;
            }
            EvDebug::Debug(fn, "Connecting to Url=[%s], user name[%s]", url.c_str(), user.c_str());

            const bool separateAdmin = m_pAdminBridge != m_pSourceBridge.get();
            for (const auto& cred : credentials) {
                if (cred.type != kCredentialWebProxy) continue;
                m_pSourceBridge->SetWebProxy(cred.host, cred.user, cred.password, 0);
                if (separateAdmin) m_pAdminBridge->SetWebProxy(cred.host, cred.user, cred.password, 0);
                m_webProxyHost = cred.host;
                m_webProxyUser = cred.user;
                m_webProxyPassword = cred.password;
                break;
            }

            int result = 0;
            std::string error;
            if (!AmazonCommon::QuietBridgeCall(
                    *m_pSourceBridge, [&] { return m_pSourceBridge->Connect(url, user, password); }, error)) {
                EvDebug::Error(fn, "Connect failed to source account");
                SetLastVMError(AmazonErrors::kErrConnectFailed);
                SetLastVMErrorDetails(error);
            } else {
                m_pSourceBridge->GetAccountId(m_accounts.sourceAccountId);
                m_accounts.adminAccountId = m_accounts.sourceAccountId;
                EvDebug::Debug(fn, "Connection Successful to source account [%s]", m_accounts.sourceAccountId.c_str());
                result = 1;
            }

            if (separateAdmin) {
                EvDebug::Debug(fn, "Connecting to Url=[%s], user name[%s]", m_strAdminURL.c_str(),
                               m_strAdminUser.c_str());
                std::string adminError;
                if (!AmazonCommon::QuietBridgeCall(
                        *m_pAdminBridge,
                        [&] { return m_pAdminBridge->Connect(m_strAdminURL, m_strAdminUser, m_strAdminPassword); },
                        adminError)) {
                    EvDebug::Error(fn, "Connect failed to admin account");
                    SetLastVMError(AmazonErrors::kErrConnectFailed);
                    SetLastVMErrorDetails(adminError);
                    return 0;
                }
                m_pAdminBridge->GetAccountId(m_accounts.adminAccountId);
                EvDebug::Debug(fn, "Connection Successful to admin account [%s]", m_accounts.adminAccountId.c_str());
            }
            return result;
        },
        [&](const char* what) { SetLastVMError(AmazonErrors::kErrConnectFailed, what ? what : ""); });
}

int CAmazonInfo::Disconnect() {
    // A guest job ends with the connection: what it still has registered
    // goes while the bridges can reach it.
    FinishGuestJob();
    SetLastVMError(0);
    m_pSourceBridge->Disconnect();
    if (m_pAdminBridge != m_pSourceBridge.get()) m_pAdminBridge->Disconnect();
    return 1;
}
