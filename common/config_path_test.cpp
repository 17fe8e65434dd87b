// The configuration folder: the option taken out of argv, the variable, the current folder.
#include "common/config_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace common {
namespace {

// An argv the function may rewrite, with the null after the last argument.
class Args {
 public:
  explicit Args(std::vector<std::string> words) : words_(std::move(words)) {
    for (auto& w : words_) ptrs_.push_back(w.data());
    ptrs_.push_back(nullptr);
  }
  int Argc() const { return static_cast<int>(words_.size()); }
  char** Argv() { return ptrs_.data(); }
  std::vector<std::string> After(int argc) const {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) out.emplace_back(ptrs_[static_cast<size_t>(i)]);
    EXPECT_EQ(ptrs_[static_cast<size_t>(argc)], nullptr) << "argv must stay null-terminated";
    return out;
  }

 private:
  std::vector<std::string> words_;
  std::vector<char*> ptrs_;
};

class ConfigPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConfigDir("");
    ::unsetenv(std::string(kConfigDirVariable).c_str());
    dir_ = std::filesystem::temp_directory_path() / ("corvcfg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    SetConfigDir("");
    ::unsetenv(std::string(kConfigDirVariable).c_str());
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(ConfigPathTest, WithoutOptionOrVariableFilesAreInTheCurrentFolder) {
  Args args({"corvd32", "debug"});
  EXPECT_EQ(TakeConfigDirOption(args.Argc(), args.Argv()), 2);
  EXPECT_EQ(ConfigFile("page.ini"), "page.ini");
}

TEST_F(ConfigPathTest, OptionFormsAreTakenOutOfArgv) {
  const std::string d = dir_.string();
  for (const std::vector<std::string>& form :
       {std::vector<std::string>{"-c", d}, {"-c" + d}, {"--config", d}, {"--config=" + d}}) {
    SetConfigDir("");
    std::vector<std::string> words{"corvnet32"};
    words.insert(words.end(), form.begin(), form.end());
    words.emplace_back("debug");
    Args args(words);
    const int argc = TakeConfigDirOption(args.Argc(), args.Argv());
    // The program's own "first argument contains debug" test must still see its switch.
    EXPECT_EQ(args.After(argc), (std::vector<std::string>{"corvnet32", "debug"})) << form[0];
    EXPECT_EQ(ConfigFile("SNPP.INI"), d + "/SNPP.INI");
  }
}

TEST_F(ConfigPathTest, OptionIsReadOnlyAsTheFirstArgument) {
  // corvsend's message may be the text "-c": it stays the message.
  Args args({"corvsend", "Ann", "-c", dir_.string()});
  EXPECT_EQ(TakeConfigDirOption(args.Argc(), args.Argv()), 4);
  EXPECT_EQ(ConfigFile("page.ini"), "page.ini");
}

TEST_F(ConfigPathTest, MissingOrUnreadableFolderIsRefused) {
  Args bare({"corvd32", "-c"});
  EXPECT_EQ(TakeConfigDirOption(bare.Argc(), bare.Argv()), -1);
  Args missing({"corvd32", "-c", (dir_ / "nowhere").string()});
  EXPECT_EQ(TakeConfigDirOption(missing.Argc(), missing.Argv()), -1);
  Args file({"corvd32", "-c", "/etc/hostname"});
  EXPECT_EQ(TakeConfigDirOption(file.Argc(), file.Argv()), -1);
  Args empty({"corvd32", "--config="});
  EXPECT_EQ(TakeConfigDirOption(empty.Argc(), empty.Argv()), -1);
  EXPECT_EQ(ConfigFile("page.ini"), "page.ini");  // nothing was set by a refused option
}

TEST_F(ConfigPathTest, VariableNamesTheFolderAndTheOptionWins) {
  ::setenv(std::string(kConfigDirVariable).c_str(), "/etc/corvel/", 1);
  EXPECT_EQ(ConfigFile("wwwpage.ini"), "/etc/corvel/wwwpage.ini");
  Args args({"corvd32", "-c", dir_.string()});
  ASSERT_EQ(TakeConfigDirOption(args.Argc(), args.Argv()), 1);
  EXPECT_EQ(ConfigFile("page.ini"), dir_.string() + "/page.ini");
}

TEST_F(ConfigPathTest, AbsoluteNameIsKept) {
  SetConfigDir("/etc/corvel");
  EXPECT_EQ(ConfigFile("/srv/other/page.ini"), "/srv/other/page.ini");
}

}  // namespace
}  // namespace common
