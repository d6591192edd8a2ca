// A fresh temporary directory that becomes the working directory for the
// lifetime of the object; the previous working directory is restored and the
// directory removed afterwards. For code that opens files by bare name.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace testing_support {

class TempDirectory {
public:
    TempDirectory() {
        previous_ = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "qorht-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
            return;
        }
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;

    // Writes `bytes` exactly as given (binary) to `name` in the directory.
    void Write(const std::string &name, const std::string &bytes) const {
        std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << "cannot write " << name;
    }
    void Remove(const std::string &name) const { std::filesystem::remove(path_ / name); }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

} // namespace testing_support
