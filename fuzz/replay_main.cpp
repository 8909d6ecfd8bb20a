// Replays a fuzz corpus without libFuzzer: every file named on the command
// line, or found in a folder named there, goes through the target once.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
void runFile(const std::string& path, int* count) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
}

void runPath(const std::string& path, int* count) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        runFile(path, count);
        return;
    }
    DIR* d = opendir(path.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(path + "/" + e->d_name);
    closedir(d);
    for (const std::string& name : names) runPath(name, count);
}
}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) runPath(argv[i], &count);
    printf("replayed %d inputs\n", count);
    return 0;
}
