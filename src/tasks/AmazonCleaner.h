#pragma once
// Typed front to the framework's cleanup store. Registration and the orphan
// clean-up arrive with the cloud-operations work; until then the object only
// remembers which job it serves.
class CAmazonCleaner {
public:
    void SetJobId(long long jobId) { m_jobId = jobId; }
    long long JobId() const { return m_jobId; }

private:
    long long m_jobId = 0;
};
