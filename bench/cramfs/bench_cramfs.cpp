// Times our cramfs builder against mkfs.cramfs and our reader against
// fsck.cramfs --extract on two trees on tmpfs: 40 MiB in 2000 files, and 10
// files of 15 MiB. Both readers extract the image mkfs.cramfs made. Prints
// the minimum and median of each and the ratios ours / theirs.

#include "CramfsBuilder.h"
#include "CramfsReader.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Data that compresses about like firmware: runs of words, with stretches of random bytes.
std::string fileContent(uint32_t seed, size_t size)
{
    static const char *const words[]
        = { "config", "value", "device", "channel", "stream", "0x1f", "error", "init", "return", "buffer",
              "length", "the", "of", "/mnt/mtd", "struct", "int", "\n", "\t", "{", "}", ";", " " };
    std::string out;
    out.reserve(size + 16);
    uint32_t x = seed * 2654435761u + 7;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 8) % 16 == 0) {
            for (int i = 0; i < 64; ++i) {
                x = x * 1103515245u + 12345u;
                out.push_back(char(x >> 16));
            }
        } else {
            out += words[(x >> 12) % (sizeof words / sizeof *words)];
            out.push_back(' ');
        }
    }
    out.resize(size);
    return out;
}

void writeFile(const fs::path &path, const std::string &data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

double seconds(const std::function<bool()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
        std::fprintf(stderr, "a step failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool runQuiet(std::vector<std::string> args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Figures
{
    std::vector<double> mkfs, builder, fsck, reader;
};

double minOf(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}
double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *tree, const Figures &f)
{
    auto line = [](const char *what, const std::vector<double> &ours, const std::vector<double> &theirs) {
        std::printf("  %-28s ours min %7.3f s median %7.3f s | theirs min %7.3f s median %7.3f s | ratio min "
                    "%.2fx median %.2fx\n",
            what, minOf(ours), medianOf(ours), minOf(theirs), medianOf(theirs), minOf(ours) / minOf(theirs),
            medianOf(ours) / medianOf(theirs));
    };
    std::printf("%s\n", tree);
    line("builder vs mkfs.cramfs", f.builder, f.mkfs);
    line("reader vs fsck.cramfs -x", f.reader, f.fsck);
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 3;
    CramfsBuildOptions quiet;
    quiet.listing = nullptr;
    fs::path base = "/dev/shm";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--threads") == 0)
            quiet.threads = unsigned(std::max(1, std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
    }
    std::string pattern = (base / "bench_cramfs.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;

    struct Tree
    {
        const char *title;
        fs::path src;
    };
    const std::vector<Tree> trees { { "40 MiB in 2000 files", work / "small" },
        { "10 files of 15 MiB", work / "large" } };
    for (int i = 0; i < 2000; ++i)
        writeFile(trees[0].src / ("d" + std::to_string(i % 40)) / ("f" + std::to_string(i)),
            fileContent(uint32_t(i), 40 * 1024 * 1024 / 2000 + (i % 7) * 16 - 48));
    for (int i = 0; i < 10; ++i)
        writeFile(
            trees[1].src / ("big" + std::to_string(i)), fileContent(uint32_t(5000 + i), 15 * 1024 * 1024));

    std::printf("cramfs on %s, %d runs, %u cores\n", base.c_str(), runs,
        std::max(1u, std::thread::hardware_concurrency()));
    for (const Tree &tree : trees) {
        Figures f;
        const fs::path mkfsImage = work / "mkfs.img", ourImage = work / "ours.img";
        const fs::path fsckOut = work / "fsck.out", ourOut = work / "ours.out";
        for (int r = 0; r < runs; ++r) {
            f.mkfs.push_back(seconds([&] { return runQuiet({ "mkfs.cramfs", tree.src, mkfsImage }); }));
            f.builder.push_back(
                seconds([&] { return cramfsBuildImage(tree.src.c_str(), ourImage.c_str(), quiet) == 0; }));
            fs::remove_all(fsckOut);
            f.fsck.push_back(seconds([&] {
                return runQuiet({ "fsck.cramfs", "--extract=" + fsckOut.string(), mkfsImage });
            }));
            fs::remove_all(ourOut);
            f.reader.push_back(
                seconds([&] { return cramfsExtractImage(mkfsImage.c_str(), ourOut.c_str()) == 0; }));
        }
        std::printf("  images: mkfs.cramfs %ju bytes, ours %ju bytes\n", uintmax_t(fs::file_size(mkfsImage)),
            uintmax_t(fs::file_size(ourImage)));
        report(tree.title, f);
        fs::remove_all(fsckOut);
        fs::remove_all(ourOut);
    }
    fs::remove_all(work);
    return 0;
}
