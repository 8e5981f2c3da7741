#include "data/format/read/FileMapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

TFileMapping::TFileMapping(const std::string& path, int opened)
{
    const int fd = opened >= 0 ? opened : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EUnreadable(quorlin::Format(Tr("Cannot open the database file '%1$s'"), path));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // Every page is read, so they are all mapped at once rather than one fault at a time.
        void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (p != MAP_FAILED) {
            FData = static_cast<const std::uint8_t*>(p);
            FSize = static_cast<std::size_t>(st.st_size);
        }
    }
    if (opened < 0) ::close(fd);
}

TFileMapping::~TFileMapping()
{
    if (FData) ::munmap(const_cast<std::uint8_t*>(FData), FSize);
}

}  // namespace quorlin::jet
