#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kestrune-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders made read-only by a test must become writable to be emptied.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
    }
    chmod(path_.c_str(), 0700);
    fs::remove_all(path_, ec);
}

std::string KestruneBinary() { return KESTRUNE_BINARY; }

namespace {

std::vector<std::string> KestruneEnvironment(const TempDir& runtime, const RunOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    env["XDG_RUNTIME_DIR"] = runtime.path();
    env["XDG_CONFIG_HOME"] = runtime.path() + "/config";
    for (const auto& [k, v] : options.env) env[k] = v;
    std::vector<std::string> env_strings;
    for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
    return env_strings;
}

}  // namespace

StartedKestrune::StartedKestrune(const std::vector<std::string>& args, const RunOptions& options)
    : runtime_(std::make_unique<TempDir>()) {
    std::vector<std::string> env_strings = KestruneEnvironment(*runtime_, options);
    const std::string binary = KestruneBinary();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(127);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid_ < 0) throw std::runtime_error("fork failed");
}

StartedKestrune::~StartedKestrune() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void StartedKestrune::Signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

int StartedKestrune::Wait(int limit_seconds) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() > deadline) return -1;  // the destructor kills it
        usleep(2000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ProcessResult RunKestrune(const std::vector<std::string>& args, const RunOptions& options) {
    TempDir runtime;
    std::vector<std::string> env_strings = KestruneEnvironment(runtime, options);

    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe failed");
    const std::string binary = KestruneBinary();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
        if (!options.working_dir.empty() && chdir(options.working_dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& s : env_strings) envp.push_back(s.data());
        envp.push_back(nullptr);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!options.stdin_data.empty()) {
        // Small inputs only; a pipe buffer holds them.
        [[maybe_unused]] ssize_t n = write(in_pipe[1], options.stdin_data.data(), options.stdin_data.size());
    }
    close(in_pipe[1]);

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string DecodeUtf16Le(const std::string& bytes) {
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return kestrune::Utf16ToUtf8(units);
}

std::vector<std::string> ConsoleLines(const std::string& bytes) {
    const std::string text = DecodeUtf16Le(bytes);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

std::string CorpusDir() {
    const char* override_dir = std::getenv("KESTRUNE_CORPUS");
    const std::string dir = override_dir ? override_dir : std::string(KESTRUNE_SOURCE_DIR) + "/../shared/testdata/gif";
    std::error_code ec;
    return fs::is_directory(dir, ec) ? fs::canonical(dir, ec).string() : std::string();
}

TestBitmap LoadImageFile(const std::string& path) {
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) return nullptr;
    return TestBitmap(FreeImage_Load(fif, path.c_str(), 0));
}

Rgba PixelAt(FIBITMAP* image, int x, int y) {
    const int h = static_cast<int>(FreeImage_GetHeight(image));
    const unsigned bpp = FreeImage_GetBPP(image);
    BYTE* line = FreeImage_GetScanLine(image, h - 1 - y);
    Rgba c;
    if (bpp <= 8) {
        BYTE index = 0;
        if (bpp == 8) index = line[x];
        else if (bpp == 4) index = (line[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0F;
        else if (bpp == 1) index = (line[x / 8] >> (7 - x % 8)) & 1;
        const RGBQUAD* pal = FreeImage_GetPalette(image);
        if (pal) {
            c = {pal[index].rgbRed, pal[index].rgbGreen, pal[index].rgbBlue, 255};
        } else {
            c = {index, index, index, 255};
        }
        if (FreeImage_IsTransparent(image) && FreeImage_GetTransparencyTable(image) &&
            index < FreeImage_GetTransparencyCount(image))
            c.a = FreeImage_GetTransparencyTable(image)[index];
        return c;
    }
    if (bpp == 16) {
        const uint16_t v = reinterpret_cast<uint16_t*>(line)[x];
        const bool is565 = FreeImage_GetGreenMask(image) == FI16_565_GREEN_MASK;
        if (is565) {
            c = {static_cast<uint8_t>(((v >> 11) & 31) * 255 / 31), static_cast<uint8_t>(((v >> 5) & 63) * 255 / 63),
                 static_cast<uint8_t>((v & 31) * 255 / 31), 255};
        } else {
            c = {static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31), static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31),
                 static_cast<uint8_t>((v & 31) * 255 / 31), 255};
        }
        return c;
    }
    if (FreeImage_GetImageType(image) != FIT_BITMAP) {
        // 48/64-bit integer or 96/128-bit float images: convert a copy.
        TestBitmap std(FreeImage_ConvertToType(image, FIT_BITMAP, TRUE));
        if (!std) return {};
        return PixelAt(std.get(), x, y);
    }
    const unsigned bytes = bpp / 8;
    BYTE* p = line + x * bytes;
    c = {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], static_cast<uint8_t>(bytes == 4 ? p[FI_RGBA_ALPHA] : 255)};
    return c;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testing_support
