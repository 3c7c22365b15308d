#pragma once

#include <sys/resource.h>

// While it lives, this process cannot make a file larger than `bytes`: a write past the limit
// fails with EFBIG (SIGXFSZ is ignored), as on a full disk. Other files stay writable up to it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    struct rlimit m_old;
    void (*m_oldHandler)(int);
};
