#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

// A scratch directory per test with a store root "store/" inside it, so a test can check
// that nothing was written next to the root.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/harborage-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base = tmpl;
        root = base / "store";
        fs::create_directory(root);
        rootText = root.string() + "/";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    static std::string ReadFile(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteFile(const fs::path& p, const std::string& data)
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << data;
    }
    // A finished message outside the store, as the main program hands it over.
    std::string MakeTemp(const std::string& data, const std::string& name = "incoming.tmp")
    {
        fs::path p = base / name;
        WriteFile(p, data);
        return p.string();
    }

    fs::path base;
    fs::path root;
    std::string rootText;  // the root as the program passes it: with a trailing separator
};
