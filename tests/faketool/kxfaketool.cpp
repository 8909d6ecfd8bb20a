// kxfaketool: plays one of the programs the converter modules start (gs,
// fig2dev, dcraw, exiftool, exrtoppm, pcdtojpeg), chosen by KX_FAKE_ROLE or
// else by the name it was started under, so that tests can check the exact
// argument vector and what a module makes of each kind of result.
//   KX_FAKE_LOG      file to which every call appends its arguments, one a
//                    line, followed by a line "@@end"
//   KX_FAKE_MODE     fixture (copy KX_FAKE_FIXTURE to the output), none
//                    (write nothing), empty (an empty output file), garbage,
//                    hang (start a helper process, log "@@helper <pid>",
//                    write the fixture, then both sleep for a minute) or
//                    stubborn (as hang, both ignoring SIGTERM)
//   KX_FAKE_FIXTURE  the file the fixture mode copies
//   KX_FAKE_EXIT     the exit code (default 0)
// The output is the role's: gs's -sOutputFile= ("%%" read as "%"),
// fig2dev's and pcdtojpeg's last argument, exrtoppm's -o argument, and
// standard output for dcraw and exiftool.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::string env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

std::string outputName(const std::string& role, int argc, char** argv) {
    if (role == "gs") {
        for (int i = 1; i < argc; ++i)
            if (strncmp(argv[i], "-sOutputFile=", 13) == 0) {
                std::string name;
                for (const char* p = argv[i] + 13; *p; ++p) {
                    name += *p;
                    if (p[0] == '%' && p[1] == '%') ++p;
                }
                return name;
            }
        return "";
    }
    if (role == "exrtoppm") {
        for (int i = 1; i + 1 < argc; ++i)
            if (strcmp(argv[i], "-o") == 0) return argv[i + 1];
        return "";
    }
    if (role == "fig2dev" || role == "pcdtojpeg") return argc > 1 ? argv[argc - 1] : "";
    return "-";  // dcraw, exiftool: standard output
}
}  // namespace

int main(int argc, char** argv) {
    std::string role = env("KX_FAKE_ROLE");
    if (role.empty()) {
        const char* slash = strrchr(argv[0], '/');
        role = slash ? slash + 1 : argv[0];
    }
    if (FILE* log = fopen(env("KX_FAKE_LOG").c_str(), "ab")) {
        for (int i = 1; i < argc; ++i) fprintf(log, "%s\n", argv[i]);
        fputs("@@end\n", log);
        fclose(log);
    }
    std::string mode = env("KX_FAKE_MODE");
    const bool hang = mode == "hang" || mode == "stubborn";
    if (hang) {
        if (mode == "stubborn") signal(SIGTERM, SIG_IGN);
        const pid_t helper = fork();
        if (helper == 0) {
            sleep(60);
            _exit(0);
        }
        if (FILE* log = fopen(env("KX_FAKE_LOG").c_str(), "ab")) {
            fprintf(log, "@@helper %ld\n", (long)helper);
            fclose(log);
        }
        mode = "fixture";
    }
    const std::string out = outputName(role, argc, argv);
    if (mode != "none" && !out.empty()) {
        FILE* o = out == "-" ? stdout : fopen(out.c_str(), "wb");
        if (!o) return 1;
        if (mode == "garbage") {
            fputs("this is no picture at all\n", o);
        } else if (mode == "fixture") {
            if (FILE* in = fopen(env("KX_FAKE_FIXTURE").c_str(), "rb")) {
                char block[65536];
                size_t n;
                while ((n = fread(block, 1, sizeof(block), in)) > 0) fwrite(block, 1, n, o);
                fclose(in);
            }
        }
        if (o != stdout) fclose(o);
        else fflush(stdout);
    }
    if (hang) sleep(60);
    return atoi(env("KX_FAKE_EXIT").c_str());
}
