#include "platform/posix/private_folder.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro {

std::string ensurePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::strerror(errno);
    // Not followed: a link could lead anywhere, into a folder of anyone's.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "not a folder";
    if (st.st_uid != ::geteuid())
        return "the folder belongs to another user";
    if ((st.st_mode & 077) != 0)
        return "the folder is open to other users";
    return {};
}

} // namespace tavro
