#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes. Paths are absolute and in the system's own form.
// Also: whole files read and written byte for byte.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace quill::test {

class TestTempDir {
public:
    TestTempDir() {
        std::random_device rd;
        std::mt19937_64 gen(rd() ^
                            static_cast<unsigned long long>(
                                std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = std::filesystem::temp_directory_path() /
                    ("quill-test-" + std::to_string(gen() % 1000000000000ull));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec))
                return;
        }
        throw std::runtime_error("cannot create a temporary folder");
    }
    ~TestTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TestTempDir(const TestTempDir&) = delete;
    TestTempDir& operator=(const TestTempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The file's bytes; empty when it cannot be read.
inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file with exactly these bytes.
inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace quill::test
