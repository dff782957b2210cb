// What another live job of the proxy holds: the AMIs a start-up clean-up
// finds by tag or name and must leave alone.
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

bool CAmazonInfo::IsAMIOfAnotherLiveJob(const std::string& amiId, const char* where,
                                        const std::string& exceptJobKey) {
    // Without the store no job's AMIs can be told apart; the callers run
    // after the mount machinery opened it.
    if (!m_cleaner.IsInitialized()) return false;
    const bool held = exceptJobKey.empty() ? m_cleaner.IsHeldByAnotherRunningJob(amiId)
                                           : m_cleaner.IsHeldByRunningJob(amiId, exceptJobKey);
    if (!held) return false;
    EvDebug::Debug(where, "AMI [%s] belongs to another job that is still running; leaving it.", amiId.c_str());
    return true;
}
