// Extracts arbitrary bytes as a cramfs image and checks what the reader may
// leave: nothing beside its output folder, only folders and regular files,
// no more bytes or entries than the limits allow.
#include "CramfsReader.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path &workFolder()
{
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz_cramfs.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] { fs::remove_all(workFolder()); });
        return fs::path(pattern);
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fs::path image = workFolder() / "image", parent = workFolder() / "parent", out = parent / "out";
    {
        std::ofstream file(image, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(data), std::streamsize(size));
    }
    fs::create_directories(parent);
    CramfsLimits limits;
    limits.maxTotalBytes = 8 * 1024 * 1024;
    limits.maxEntries = 2000;
    const int rc = cramfsExtractImage(image.c_str(), out.c_str(), limits);
    if (rc > 0 || rc < CramfsCannotCreateFolder)
        std::abort();

    for (const auto &entry : fs::directory_iterator(parent)) {
        if (entry.path() != out)
            std::abort();
    }
    uint64_t bytes = 0;
    uint32_t entries = 0;
    if (fs::exists(out)) {
        for (const auto &entry : fs::recursive_directory_iterator(out)) {
            const fs::file_status status = entry.symlink_status();
            if (!fs::is_directory(status) && !fs::is_regular_file(status))
                std::abort();
            if (fs::is_regular_file(status))
                bytes += entry.file_size();
            ++entries;
        }
    }
    if (bytes > limits.maxTotalBytes || entries > limits.maxEntries)
        std::abort();
    fs::remove_all(out);
    return 0;
}
