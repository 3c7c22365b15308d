#pragma once

#include <memory>

// Shared "stop waiting" flag of one job, checked before each step that starts or waits for a child.
class CancelToken
{
public:
    void cancel() { *m_canceled = true; }
    bool isCanceled() const { return *m_canceled; }

private:
    std::shared_ptr<bool> m_canceled = std::make_shared<bool>(false);
};
