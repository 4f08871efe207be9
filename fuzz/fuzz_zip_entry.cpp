// Zip entry handling: the input is an entry name for the name check and, as
// a whole, a zip unpacked into a scratch folder. Nothing may appear beside the
// target folder, and every accepted name must be a plain relative path.
#include "ZipFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <string>
#include <unistd.h>

namespace {

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

std::string &scratchRoot()
{
    static std::string root;
    return root;
}

std::string scratch()
{
    std::string &root = scratchRoot();
    if (root.empty()) {
        char pattern[] = "/tmp/fuzz_zip_entry_XXXXXX";
        const char *made = ::mkdtemp(pattern);
        if (!made)
            std::abort();
        root = made;
        std::atexit([] { ::nftw(scratchRoot().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); });
    }
    return root;
}

void checkName(const QByteArray &name)
{
    QList<QByteArray> segments;
    if (ZipEntryName::split(name, &segments) == ZipEntryName::Kind::Refused)
        return;
    if (segments.isEmpty())
        std::abort();
    for (const QByteArray &segment : segments) {
        if (segment.isEmpty() || segment == "." || segment == ".." || segment.contains('/')
            || segment.contains('\\') || segment.contains('\0'))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkName(QByteArray(reinterpret_cast<const char *>(data), int(size)));

    const std::string root = scratch();
    const std::string zip = root + "/in.zip";
    const std::string out = root + "/out/target";
    FILE *file = std::fopen(zip.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    UnzipLimits limits;
    limits.maxTotalBytes = 1 << 20;
    limits.maxEntries = 256;
    unzipToFolder(zip.c_str(), out.c_str(), limits);

    // Only "in.zip" and "out" in the scratch folder, only "target" in "out".
    for (const auto &[folder, allowed] : { std::pair<std::string, std::string> { root, "in.zip out" },
             std::pair<std::string, std::string> { root + "/out", "target" } }) {
        DIR *dir = ::opendir(folder.c_str());
        while (dirent *entry = dir ? ::readdir(dir) : nullptr) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".."
                && (" " + allowed + " ").find(" " + name + " ") == std::string::npos)
                std::abort();
        }
        if (dir)
            ::closedir(dir);
    }
    ::nftw((root + "/out").c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
