#include "FileSizeLimit.h"

#include <csignal>
#include <cstdlib>

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (::getrlimit(RLIMIT_FSIZE, &m_old) != 0)
        std::abort();
    struct rlimit lowered = m_old;
    lowered.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &lowered) != 0)
        std::abort();
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}
