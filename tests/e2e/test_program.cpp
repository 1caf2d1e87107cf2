// The command line, before any server starts.
#include "support/E2e.h"

namespace murmur::test {
namespace {

TEST(CommandLine, HelpVersionAndAnUnknownOption) {
    using Args = ServerProcess::ExactArguments;
    ServerProcess help(Args{}, {"--help"}), version(Args{}, {"--version"}), bogus(Args{}, {"--bogus"});
    EXPECT_EQ(help.waitForExit(), 0);
    EXPECT_EQ(help.output().rfind("Usage: murmur-server", 0), 0u) << help.output();
    EXPECT_EQ(help.errors(), "");
    EXPECT_EQ(version.waitForExit(), 0);
    EXPECT_EQ(version.output(), "murmur-server 1.2.0\n");
    EXPECT_EQ(bogus.waitForExit(), 2);
    EXPECT_EQ(bogus.output(), "");
    EXPECT_EQ(bogus.errors(), "murmur-server: unknown option '--bogus'\nTry 'murmur-server --help'.\n");
    for (const auto& [arguments, complaint] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--attach", "--check"}, "--check, --attach and --console go alone"},
             {{"--console", "one\ntwo"}, "--console takes one line"}}) {
        ServerProcess wrong(Args{}, arguments);
        EXPECT_EQ(wrong.waitForExit(), 2);
        EXPECT_EQ(wrong.errors(), "murmur-server: " + complaint + "\nTry 'murmur-server --help'.\n");
    }
}

}  // namespace
}  // namespace murmur::test
