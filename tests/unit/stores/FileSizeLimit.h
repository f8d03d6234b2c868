#pragma once

#include <QFile>

#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace murmelo::test {

// Makes every write that would grow a file beyond `bytes` fail (EFBIG), as a full disk would,
// until destroyed. Works without privileges and without a special file system.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN); // report the error instead of ending the process
        getrlimit(RLIMIT_FSIZE, &m_previous);
        const rlimit limited{bytes, m_previous.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_previous); }

private:
    rlimit m_previous{};
};

// Until destroyed, `directory` belongs to another user and is read-only to this thread, which gives
// up root's power over permissions. Our own directory made read-only would not do: the stores make
// their directory private again, as its owner may. Needs root.
class ForeignDirectory {
public:
    explicit ForeignDirectory(const QString& directory)
        : m_path(QFile::encodeName(directory)) {
        given = ::chown(m_path.constData(), 65534, 65534) == 0 && ::chmod(m_path.constData(), 0555) == 0 &&
                overridePermissions(false);
    }
    ~ForeignDirectory() {
        given = overridePermissions(true) && ::chown(m_path.constData(), ::geteuid(), ::getegid()) == 0;
        ::chmod(m_path.constData(), 0700);
    }
    bool given = false;

private:
    static bool overridePermissions(bool allowed) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        const unsigned bits = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH | 1u << CAP_FOWNER;
        ::syscall(SYS_capget, &header, data);
        data[0].effective = allowed ? data[0].effective | bits : data[0].effective & ~bits;
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    QByteArray m_path;
};

} // namespace murmelo::test
